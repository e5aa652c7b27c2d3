// Pointer types of the eight exports (declared once, with the service client's exports), for
// the stub's forwarding table and for hosts that look the exports up.
#pragma once

#include "tavo2_exports.h"

using StartTavoFn = decltype(&startTavo);
using StopTavoFn = decltype(&stopTavo);
using SendMessageFn = decltype(&sendMessageS);
using TextResultFn = decltype(&checkTransport);
using GetCodiceTavoFn = decltype(&getCodiceTAVO);
using GetRideConfigFn = decltype(&getRideConfig);

// Scripted object search and attribute writes of the scriptable module.
//
// Keys:
//   find.handles   handles the search yields, in order (default none); each C_FindObjects
//                  hands out at most as many as asked, continuing where the last one stopped;
//                  C_FindObjectsInit starts again at the first
//   find.claim     count C_FindObjects reports, whatever it handed out
// The calls are recorded with their templates byte for byte (see crypto_calls.h).
#pragma once

#include "cryptoki.h"

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount);
CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount);
CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession);
CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount);

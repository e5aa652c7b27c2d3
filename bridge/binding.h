// Binding the Cryptoki module: loaded by path, its function list fetched, released again.
#pragma once

#include "state.h"

// Loads the module by path and fetches its function list.
CK_RV bindModule(const char* path, CK_FUNCTION_LIST_PTR* functionList);
// Releases the bound module and forgets everything that pointed into it.
void releaseModule();

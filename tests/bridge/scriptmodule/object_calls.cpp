#include "object_calls.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "crypto_calls.h"
#include "script.h"

using script::record;
using script::result;

// Where the current search stands; one search at a time is all the bridge runs.
static size_t searchPosition = 0;

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    record("C_FindObjectsInit session=%lu %s", hSession, templateText(pTemplate, ulCount).c_str());
    searchPosition = 0;
    return result("C_FindObjectsInit");
}

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount) {
    record("C_FindObjects session=%lu max=%lu", hSession, ulMaxObjectCount);
    CK_RV rv = result("C_FindObjects");
    if (rv != CKR_OK) return rv;
    std::vector<CK_OBJECT_HANDLE> handles;
    std::istringstream in(script::text("find.handles"));
    std::string word;
    while (in >> word) handles.push_back(static_cast<CK_OBJECT_HANDLE>(std::strtoull(word.c_str(), nullptr, 0)));
    CK_ULONG found = 0;
    while (found < ulMaxObjectCount && searchPosition < handles.size()) phObject[found++] = handles[searchPosition++];
    *pulObjectCount = script::number("find.claim", found);
    return CKR_OK;
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    record("C_FindObjectsFinal session=%lu", hSession);
    return result("C_FindObjectsFinal");
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
    record("C_SetAttributeValue session=%lu object=%lu %s", hSession, hObject,
           templateText(pTemplate, ulCount).c_str());
    return result("C_SetAttributeValue");
}

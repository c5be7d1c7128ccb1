#pragma once
// Folder permissions.
#include <string>

// Gives the group Everyone (S-1-1-0) full control of Folder, inherited by its files and
// sub-folders, unless an entry granting Everyone GENERIC_ALL is already there. Raises
// EOSError when the SID, the current DACL or the new ACL cannot be had; a failure to
// write the new DACL back is ignored (the folder stays usable with its old rights).
void GrantEveryoneFullAccess(const std::wstring& Folder);

#pragma once
// The module's file version. Parts 1, 2 and 4 are what users see ("major.minor.build");
// the third part is kept for releases that only repackage.
#define TOLVARO_VERSION_MAJOR 1
#define TOLVARO_VERSION_MINOR 0
#define TOLVARO_VERSION_RELEASE 3
#define TOLVARO_VERSION_BUILD 17
#define TOLVARO_VERSION_TEXT "1.0.3.17"

#pragma once
// The product's version, its one definition: the build reads it from here for everything else
// (file names, the installer's version, the help). Parts 1, 2 and 4 are what users see and what
// Windows Installer compares ("major.minor.build"); the third part is kept for releases that
// only repackage. The text must be the four parts (the build checks it).
#define TOLVARO_VERSION_MAJOR 1
#define TOLVARO_VERSION_MINOR 0
#define TOLVARO_VERSION_RELEASE 3
#define TOLVARO_VERSION_BUILD 17
#define TOLVARO_VERSION_TEXT "1.0.3.17"

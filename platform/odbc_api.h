// The ODBC API, as the history's ODBC connection uses it: odbc32.dll on
// Windows, unixODBC elsewhere. Windows' headers need <windows.h> first.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

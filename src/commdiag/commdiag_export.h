#pragma once
// The CommDiag classes leave orbel_dll with their members. On Windows they are marked for
// export (the C entries keep their plain names, as --kill-at only touches decorated C names);
// on Linux the library's version script keeps everything but the C entries inside, so the
// default visibility only matters to programs that link the static library directly.
#include "common/api_export.h"

#if defined(_WIN32) && defined(COMMDIAG_IMPORT)
#define COMMDIAG_API __declspec(dllimport)
#else
#define COMMDIAG_API ORBEL_DLL_EXPORT
#endif

// Where the programs' DLLs come from on Windows. Run as the first statement
// of main: from then on every DLL is looked for in System32 only, never in
// the program's own folder (where a planted DLL could wait, say in
// Downloads) or the current directory. Elsewhere nothing needs doing.
#pragma once

namespace varnis {

#ifdef _WIN32
void RestrictDllSearch();
#else
inline void RestrictDllSearch() {}
#endif

}  // namespace varnis

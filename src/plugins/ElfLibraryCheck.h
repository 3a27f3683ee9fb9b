#pragma once
// Looks at a shared library before it is handed to dlopen. The dynamic
// loader maps a library's segments straight from the file, so a library cut
// short (an interrupted copy or download) makes it touch pages past the end
// of the file and the whole program dies of SIGBUS. A file that is not a
// library of this machine is refused here with a reason as well.

#include <string>

namespace ElfLibraryCheck {

// True when the file is an ELF shared object of this machine's kind whose
// headers and loadable segments lie within the file; otherwise false with
// the reason (beginning with the path) in error.
bool isLoadable(const std::string& path, std::string& error);

} // namespace ElfLibraryCheck

// The naming rules as POSIX builds apply them: '/' separates, names are UTF-8.
#include "hdb/file_names.h"

namespace foliant::hdb {

PathSyntax nativePathSyntax() { return posixPathSyntax(); }

std::string nativeHeaderName(std::string_view base) { return std::string(headerName(base, posixPathSyntax())); }

}  // namespace foliant::hdb

// Module-level imports through the interpreter's import machinery.
#pragma once

#include <initializer_list>
#include <vector>

#include "interp/object.h"

namespace duzer::interp {

/// `import a.b.c as name`: the innermost submodule.
py::object import_module(const char *dotted_name);

/// `from module import a, b`: the requested names, in order.
std::vector<py::object> import_from(const char *module_name,
                                    std::initializer_list<const char *> names);

}  // namespace duzer::interp

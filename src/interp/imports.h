// Module-level imports through the interpreter's import machinery.
#pragma once

#include <initializer_list>
#include <vector>

#include "interp/object.h"

namespace duzer::interp {

/// Binds `name` in the namespace of `module`, as an import statement does.
void bind(py::handle module, PyObject *name, py::handle value);

/// `import a.b.c as name`: the innermost submodule.
py::object import_module(const char *dotted_name);

/// `from module import a, b`: the requested names, in order.
std::vector<py::object> import_from(const char *module_name,
                                    std::initializer_list<const char *> names);

}  // namespace duzer::interp

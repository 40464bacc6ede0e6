// Class creation as a class statement performs it: bases resolved through
// __mro_entries__, the metaclass calculated from the bases, the namespace
// prepared by __prepare__, then the metaclass called.
#pragma once

#include "interp/object.h"

namespace duzer::interp {

/// The prepared namespace of a class under construction.
struct ClassBody {
    py::object name;
    py::object bases;
    py::object orig_bases;
    py::object metaclass;
    py::object namespace_;
};

/// Resolves the bases, calculates the metaclass and prepares the namespace
/// with `__module__` and `__qualname__`.
ClassBody begin_class(py::handle name, py::handle qualname, py::handle module_name,
                      py::handle orig_bases);

/// Calls the metaclass with (name, bases, namespace) and returns the class.
py::object finish_class(ClassBody &body);

}  // namespace duzer::interp

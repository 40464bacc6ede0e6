// Absolute imports as the interpreter performs them for import statements.
#include "interp/imports.h"

#include <string>

#include "interp/call.h"
#include "interp/state.h"

namespace duzer::interp {

namespace {

py::object import_level0(py::handle name, py::handle fromlist) {
    return steal(PyImport_ImportModuleLevelObject(name.ptr(), state().module_globals, nullptr,
                                                  fromlist.ptr(), 0));
}

/// `module.name`, falling back to sys.modules for a submodule that is being
/// imported, as the import statement does.
py::object attribute_or_submodule(py::handle module, const std::string &full_name,
                                  const char *name) {
    PyObject *value = nullptr;
    py::object attr_name = steal(PyUnicode_FromString(name));
    check(compat::lookup_optional_attr(module.ptr(), attr_name.ptr(), &value));
    if (value != nullptr) return steal(value);
    py::object key = steal(PyUnicode_FromString(full_name.c_str()));
    PyObject *found = PyDict_GetItemWithError(PyImport_GetModuleDict(), key.ptr());
    if (found != nullptr) return py::reinterpret_borrow<py::object>(found);
    if (PyErr_Occurred()) raise_pending();
    PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name,
                 full_name.substr(0, full_name.rfind('.')).c_str());
    raise_pending();
}

}  // namespace

void bind(py::handle module, PyObject *name, py::handle value) {
    check(PyDict_SetItem(PyModule_GetDict(module.ptr()), name, value.ptr()));
}

py::object import_module(const char *dotted_name) {
    py::object name = steal(PyUnicode_FromString(dotted_name));
    py::object module = import_level0(name, Py_None);
    std::string path = dotted_name;
    size_t start = path.find('.');
    while (start != std::string::npos) {
        const size_t end = path.find('.', start + 1);
        const std::string part = path.substr(start + 1, end - start - 1);
        module = attribute_or_submodule(module, path.substr(0, end), part.c_str());
        start = end;
    }
    return module;
}

std::vector<py::object> import_from(const char *module_name,
                                    std::initializer_list<const char *> names) {
    py::object name = steal(PyUnicode_FromString(module_name));
    py::object fromlist = new_list();
    for (const char *n : names) {
        py::object requested = steal(PyUnicode_FromString(n));
        append(fromlist, requested);
    }
    py::object module = import_level0(name, fromlist);
    std::vector<py::object> values;
    for (const char *n : names) {
        values.push_back(attribute_or_submodule(module, std::string(module_name) + "." + n, n));
    }
    return values;
}

}  // namespace duzer::interp

// Module creation and execution: one interpreter per process, one executed
// module, re-initialisation refused, the version check, sys.modules.
#include "interp/module.h"

#include <cstdint>

#include "interp/call.h"
#include "interp/function.h"
#include "interp/guard.h"
#include "interp/names.h"
#include "interp/scope.h"

#ifndef DUZER_BUILT_FOR_MINOR
#define DUZER_BUILT_FOR_MINOR PY_MINOR_VERSION
#endif

namespace duzer::interp {

namespace {

// Process-wide record, touched only under the import machinery and the GIL.
int64_t owning_interpreter = -1;
PyObject *executed_module = nullptr;

constexpr int kBuiltForMajor = PY_MAJOR_VERSION;
constexpr int kBuiltForMinor = DUZER_BUILT_FOR_MINOR;

PyObject *create_module(PyObject *spec, PyModuleDef *) noexcept {
    const int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1 && PyErr_Occurred()) return nullptr;
    if (owning_interpreter == -1) {
        owning_interpreter = current;
    } else if (owning_interpreter != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (executed_module != nullptr) return Py_NewRef(executed_module);

    return guard_object([&] {
        py::object name = attr(py::handle(spec), py::str("name"));
        py::object module = steal(PyModule_NewObject(name.ptr()));
        PyObject *ns = PyModule_GetDict(module.ptr());
        static const struct {
            const char *spec_attribute;
            const char *module_attribute;
            bool skip_none;
        } copies[] = {{"loader", "__loader__", false},
                      {"origin", "__file__", false},
                      {"parent", "__package__", false},
                      {"submodule_search_locations", "__path__", true}};
        for (const auto &c : copies) {
            PyObject *value = PyObject_GetAttrString(spec, c.spec_attribute);
            if (value == nullptr) {
                if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
                PyErr_Clear();
                continue;
            }
            py::object owned = steal(value);
            if (c.skip_none && value == Py_None) continue;
            check(PyDict_SetItemString(ns, c.module_attribute, value));
        }
        return module.release().ptr();
    });
}

void check_version() {
    const int major = static_cast<int>((Py_Version >> 24) & 0xff);
    const int minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (major == kBuiltForMajor && minor == kBuiltForMinor) return;
    check(PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                           "compile time Python version %d.%d of module '%.100s' %s runtime "
                           "version %d.%d",
                           kBuiltForMajor, kBuiltForMinor, "duZER", "does not match", major,
                           minor));
}

int exec_module(PyObject *module) noexcept {
    if (executed_module != nullptr) {
        if (executed_module == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'duZER' has already been imported. Re-initialisation is not "
                        "supported.");
        return -1;
    }
    executed_module = Py_NewRef(module);
    const int status = guard_status([&] {
        PyObject *ns = PyModule_GetDict(module);
        module_globals = ns;
        py::object builtins = steal(PyImport_ImportModule("builtins"));
        builtins_dict = PyModule_GetDict(builtins.ptr());
        check(PyObject_SetAttrString(module, "__builtins__", builtins.ptr()));
        check_version();
        if (!prepare_names() || !ready_function_type() || !ready_scope_type())
            throw py::error_already_set();
        PyObject *modules = PyImport_GetModuleDict();
        PyObject *existing = PyDict_GetItemWithError(modules, names().module_name);
        if (existing == nullptr) {
            if (PyErr_Occurred()) throw py::error_already_set();
            check(PyDict_SetItem(modules, names().module_name, module));
        }
        if (!fetch_builtins()) throw py::error_already_set();
        populate_namespace(module);
    });
    if (status < 0) {
        compat::add_traceback("init duZER", __FILE__, __LINE__);
        module_globals = nullptr;
        Py_CLEAR(executed_module);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void *>(create_module)},
    {Py_mod_exec, reinterpret_cast<void *>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "duZER",       // m_name
    nullptr,       // m_doc
    0,             // m_size
    nullptr,       // m_methods
    module_slots,  // m_slots
    nullptr,       // m_traverse
    nullptr,       // m_clear
    nullptr,       // m_free
};

}  // namespace

PyObject *module_definition() noexcept {
    return PyModuleDef_Init(&module_def);
}

}  // namespace duzer::interp

// Module creation and execution: one interpreter per process, one executed
// module, re-initialisation refused, the version check, sys.modules, and the
// one place where the process-wide state record is written and rolled back.
#include "interp/module.h"

#include "interp/call.h"
#include "interp/function.h"
#include "interp/guard.h"
#include "interp/scope.h"
#include "interp/state.h"

#ifndef DUZER_BUILT_FOR_MINOR
#define DUZER_BUILT_FOR_MINOR PY_MINOR_VERSION
#endif

namespace duzer::interp {

const Text kModuleName{"duZER"};

namespace {

using detail::process_state;

constexpr int kBuiltForMajor = PY_MAJOR_VERSION;
constexpr int kBuiltForMinor = DUZER_BUILT_FOR_MINOR;

PopulateNamespace populate_namespace = nullptr;

PyObject *create_module(PyObject *spec, PyModuleDef *) {
    ProcessState &s = process_state;
    const int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1 && PyErr_Occurred()) return nullptr;
    if (s.owning_interpreter == -1) {
        s.owning_interpreter = current;
    } else if (s.owning_interpreter != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (s.executed_module != nullptr) return Py_NewRef(s.executed_module);

    return guard_object([&] {
        py::object name_key = steal(PyUnicode_FromString("name"));
        py::object name = attr(spec, name_key.ptr());
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
                if (!PyErr_ExceptionMatches(PyExc_AttributeError)) raise_pending();
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

/// Fetches print, range and super from the builtins' namespace (NameError
/// when one is missing).
void fetch_builtins(Builtins &b, PyObject *builtins_dict) {
    struct Entry {
        const char *name;
        PyObject **slot;
    } entries[] = {{"print", &b.print}, {"range", &b.range}, {"super", &b.super}};
    for (const Entry &e : entries) {
        py::object key = steal(PyUnicode_InternFromString(e.name));
        PyObject *value = PyDict_GetItemWithError(builtins_dict, key.ptr());  // borrowed
        if (value == nullptr) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_NameError, "name '%s' is not defined", e.name);
            raise_pending();
        }
        Py_INCREF(value);
        Py_XSETREF(*e.slot, value);
    }
}

/// What one exec step has written, so that a failure can undo exactly that.
struct ExecRecord {
    bool published = false;  ///< this step inserted sys.modules["duZER"]
};

/// Everything an exec step does after recording its module.
void run_exec(ProcessState &s, PyObject *module, ExecRecord &record) {
    py::object builtins = steal(PyImport_ImportModule("builtins"));
    s.builtins_dict = PyModule_GetDict(builtins.ptr());
    check(PyObject_SetAttrString(module, "__builtins__", builtins.ptr()));
    check_version();
    make_constants();
    if (s.function_type == nullptr && (s.function_type = make_function_type()) == nullptr)
        raise_pending();
    if (s.scope_type == nullptr && (s.scope_type = make_scope_type()) == nullptr) raise_pending();
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *existing = PyDict_GetItemWithError(modules, kModuleName);
    if (existing == nullptr) {
        if (PyErr_Occurred()) raise_pending();
        check(PyDict_SetItem(modules, kModuleName, module));
        record.published = true;
    }
    fetch_builtins(s.builtins, s.builtins_dict);
    populate_namespace(module);
}

/// Undoes a failed exec step with its exception still pending: forgets the
/// module and its namespaces (names, types and the interpreter stay), and
/// takes it out of sys.modules if this step put it there and it is still
/// there, so that a later import starts afresh.
void roll_back(ProcessState &s, PyObject *module, const ExecRecord &record) {
    if (record.published) {
        PyObject *exception = compat::take_raised_exception();
        PyObject *modules = PyImport_GetModuleDict();
        PyObject *entry = PyDict_GetItemWithError(modules, kModuleName);
        if (entry == module && PyDict_DelItem(modules, kModuleName) < 0)
            PyErr_WriteUnraisable(module);
        PyErr_Clear();
        compat::restore_raised_exception(exception);
    }
    s.module_globals = nullptr;
    s.builtins_dict = nullptr;
    Py_CLEAR(s.executed_module);
}

int exec_module(PyObject *module) {
    ProcessState &s = process_state;
    if (s.executed_module != nullptr) {
        if (s.executed_module == module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'duZER' has already been imported. Re-initialisation is not "
                        "supported.");
        return -1;
    }
    s.executed_module = Py_NewRef(module);
    s.module_globals = PyModule_GetDict(module);
    ExecRecord record;
    // A failure's traceback names the step as the call's stages are named.
    const int status = guard_status([&] {
        traced_step(
            "init duZER", "<duZER: module exec>", 1, [&] { run_exec(s, module, record); }, [] {});
    });
    if (status < 0) roll_back(s, module, record);
    return status;
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

PyObject *module_definition(PopulateNamespace populate) noexcept {
    populate_namespace = populate;
    return PyModuleDef_Init(&module_def);
}

}  // namespace duzer::interp

// Module-level name resolution, method lookup, `mapping.get` and the calls
// that do not fit the fixed-arity templates.
#include "interp/call.h"

#include "interp/state.h"

namespace duzer::interp {

namespace {
const Identifier kGet{"get"};
}  // namespace

py::object global(PyObject *name) {
    const ProcessState &s = state();
    PyObject *value = PyDict_GetItemWithError(s.module_globals, name);
    if (value == nullptr) {
        if (PyErr_Occurred()) raise_pending();
        value = PyDict_GetItemWithError(s.builtins_dict, name);
        if (value == nullptr) {
            if (PyErr_Occurred()) raise_pending();
            raise_name_error("name '%.200U' is not defined", name);
        }
    }
    return borrow(value);
}

Method method(py::handle obj, PyObject *name) {
    PyObject *callable = nullptr;
    const int unbound =
        may_end_thread([&] { return compat::lookup_method(obj.ptr(), name, &callable); });
    if (unbound < 0) raise_pending();
    Method m{py::reinterpret_steal<py::object>(callable), {}};
    if (unbound) m.self = borrow(obj.ptr());
    return m;
}

py::object call_unpacked(Ref f, Ref args) {
    py::object tuple = steal(may_end_thread([&] { return PySequence_Tuple(args.ptr()); }));
    return steal(may_end_thread([&] { return PyObject_Call(f.ptr(), tuple.ptr(), nullptr); }));
}

py::object get(py::handle mapping, PyObject *key) {
    return call_method(mapping, kGet, key);
}

py::object get(py::handle mapping, PyObject *key, PyObject *default_value) {
    return call_method(mapping, kGet, key, default_value);
}

}  // namespace duzer::interp

// The steps of the class statement, for classes the module defines at run time.
#include "interp/classdef.h"

#include "interp/call.h"

namespace duzer::interp {

namespace {

const Identifier kMroEntries{"__mro_entries__"}, kPrepare{"__prepare__"}, kModule{"__module__"},
    kQualname{"__qualname__"}, kOrigBases{"__orig_bases__"};

/// Replaces non-class bases by what their __mro_entries__ returns.
py::object resolve_bases(py::handle orig_bases) {
    const Py_ssize_t n = PyTuple_GET_SIZE(orig_bases.ptr());
    py::object collected = new_list();
    bool changed = false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *base = PyTuple_GET_ITEM(orig_bases.ptr(), i);
        PyObject *meth = nullptr;
        if (!PyType_Check(base)) check(compat::lookup_optional_attr(base, kMroEntries, &meth));
        if (meth == nullptr) {
            append(collected, base);
            continue;
        }
        py::object mro_entries = steal(meth);
        py::object entries = call(mro_entries, orig_bases);
        if (!PyTuple_Check(entries.ptr())) {
            PyErr_SetString(PyExc_TypeError, "__mro_entries__ must return a tuple");
            raise_pending();
        }
        extend(collected, entries);
        changed = true;
    }
    if (!changed) return py::reinterpret_borrow<py::object>(orig_bases);
    return steal(PyList_AsTuple(collected.ptr()));
}

}  // namespace

ClassBody begin_class(py::handle name, py::handle qualname, py::handle module_name,
                      py::handle orig_bases) {
    ClassBody body;
    body.name = py::reinterpret_borrow<py::object>(name);
    body.orig_bases = py::reinterpret_borrow<py::object>(orig_bases);
    body.bases = resolve_bases(orig_bases);

    PyObject *meta =
        PyTuple_GET_SIZE(body.bases.ptr()) == 0
            ? reinterpret_cast<PyObject *>(&PyType_Type)
            : reinterpret_cast<PyObject *>(Py_TYPE(PyTuple_GET_ITEM(body.bases.ptr(), 0)));
    PyTypeObject *winner =
        compat::calculate_metaclass(reinterpret_cast<PyTypeObject *>(meta), body.bases.ptr());
    if (winner == nullptr) raise_pending();
    body.metaclass = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(winner));

    PyObject *prepare = nullptr;
    check(compat::lookup_optional_attr(body.metaclass.ptr(), kPrepare, &prepare));
    if (prepare == nullptr) {
        body.namespace_ = new_dict();
    } else {
        py::object prepare_owned = steal(prepare);
        body.namespace_ = call(prepare_owned, name, body.bases);
        if (!PyMapping_Check(body.namespace_.ptr())) {
            PyErr_Format(PyExc_TypeError, "%.200s.__prepare__() must return a mapping, not %.200s",
                         winner->tp_name, Py_TYPE(body.namespace_.ptr())->tp_name);
            raise_pending();
        }
    }
    setitem(body.namespace_, kModule, module_name);
    setitem(body.namespace_, kQualname, qualname);
    return body;
}

py::object finish_class(ClassBody &body) {
    if (!body.bases.is(body.orig_bases)) setitem(body.namespace_, kOrigBases, body.orig_bases);
    return call(body.metaclass, body.name, body.bases, body.namespace_);
}

}  // namespace duzer::interp

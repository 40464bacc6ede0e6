// Calls through vectorcall, in the interpreter's order: the callee (or the
// method) is looked up first, then the arguments are evaluated, then the call
// is made. Callee and arguments are `Ref`s, so each of them is a statement of
// its own before the call. `obj.name(...)` is always a `method` lookup and a
// `call` of it (or `call_method` when every argument is a constant). Also the
// module-level name lookup that every call site goes through.
#pragma once

#include <utility>

#include "interp/compat.h"
#include "interp/state.h"

namespace duzer::interp {

/// `f(a...)`.
template <class... Args>
py::object call(Ref f, Args &&...args) {
    PyObject *stack[] = {nullptr, Ref(std::forward<Args>(args)).ptr()...};
    constexpr size_t nargs = sizeof...(Args);
    return steal(may_end_thread([&] {
        return PyObject_Vectorcall(f.ptr(), stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                   nullptr);
    }));
}

/// `f()`: with nothing to evaluate between lookup and call, the callee may be
/// a temporary.
inline py::object call_noargs(py::handle f) {
    return steal(may_end_thread([&] { return PyObject_CallNoArgs(f.ptr()); }));
}

/// `f(p..., k1=v1, ...)`: the last len(kwnames) arguments are the keyword values.
template <class... Args>
py::object call_kw(Ref f, PyObject *kwnames, Args &&...args) {
    PyObject *stack[] = {nullptr, Ref(std::forward<Args>(args)).ptr()...};
    const size_t nargs = sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
    return steal(may_end_thread([&] {
        return PyObject_Vectorcall(f.ptr(), stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                   kwnames);
    }));
}

/// `f(*args)` with a list or tuple of arguments.
py::object call_unpacked(Ref f, Ref args);

/// A method looked up as the interpreter looks it up before evaluating the
/// arguments: a plain function with its `self`, or any other attribute value.
struct Method {
    py::object callable;
    py::object self;  ///< empty when `callable` is already bound
};

/// `obj.name`, about to be called.
Method method(py::handle obj, PyObject *name);

namespace detail {

/// Calls `m` with the `nargs` arguments at `stack + 2`, `stack[1]` free for
/// its `self`.
inline py::object call_method_stack(const Method &m, PyObject **stack, size_t nargs,
                                    PyObject *kwnames) {
    if (m.self) {
        stack[1] = m.self.ptr();
        return steal(may_end_thread([&] {
            return PyObject_Vectorcall(m.callable.ptr(), stack + 1,
                                       (nargs + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
        }));
    }
    return steal(may_end_thread([&] {
        return PyObject_Vectorcall(m.callable.ptr(), stack + 2,
                                   nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames);
    }));
}

}  // namespace detail

/// Calls a looked-up method. Taking only a named `Method` keeps the lookup a
/// statement of its own, ahead of the arguments.
template <class... Args>
py::object call(const Method &m, Args &&...args) {
    PyObject *stack[] = {nullptr, nullptr, Ref(std::forward<Args>(args)).ptr()...};
    return detail::call_method_stack(m, stack, sizeof...(Args), nullptr);
}
template <class... Args>
py::object call(Method &&, Args &&...) = delete;

/// `obj.name(p..., k1=v1, ...)` on a looked-up method: the last
/// len(kwnames) arguments are the keyword values.
template <class... Args>
py::object call_kw(const Method &m, PyObject *kwnames, Args &&...args) {
    PyObject *stack[] = {nullptr, nullptr, Ref(std::forward<Args>(args)).ptr()...};
    const size_t nargs = sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
    return detail::call_method_stack(m, stack, nargs, kwnames);
}
template <class... Args>
py::object call_kw(Method &&, PyObject *, Args &&...) = delete;

/// An argument that needs no evaluation: a module constant or a singleton.
class Literal {
  public:
    Literal(PyObject *value) noexcept : ptr_(value) {}
    Literal(const Constant &value) noexcept : ptr_(value.ptr()) {}
    PyObject *ptr() const noexcept { return ptr_; }

  private:
    PyObject *ptr_;
};

/// `obj.name(c...)` with constant arguments only: lookup and call in one step.
template <class... Consts>
py::object call_method(py::handle obj, PyObject *name, const Consts &...constants) {
    PyObject *stack[] = {obj.ptr(), Literal(constants).ptr()...};
    constexpr size_t nargs = sizeof...(Consts) + 1;
    return steal(may_end_thread([&] {
        return PyObject_VectorcallMethod(name, stack, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                         nullptr);
    }));
}

/// A module-level name looked up at the moment of use: the module namespace,
/// then the builtins, else NameError.
py::object global(PyObject *name);

/// `print(text)` through the builtin fetched at load (a constant, so the
/// one operand may be a temporary).
inline void print_line(py::handle text) {
    call(builtins().print, text);
}

/// `mapping.get(key)`, `mapping.get(key, default)`.
py::object get(py::handle mapping, PyObject *key);
py::object get(py::handle mapping, PyObject *key, PyObject *default_value);

}  // namespace duzer::interp

// The list of constants and the exec step that makes them.
#include "interp/constant.h"

#include "interp/object.h"

#include <cstdlib>

namespace duzer::interp {

namespace {

/// Every constant, last constructed first. Constant-initialised, so it is
/// empty before the first constructor of any file runs.
Constant *first_constant = nullptr;

}  // namespace

Constant::Constant(Kind kind, const char *text) noexcept : text_(text), kind_(kind) {
    link();
}

Constant::Constant(Kind kind, long a, long b) noexcept : kind_(kind), a_(a), b_(b) {
    link();
}

Constant::Constant(double value) noexcept : kind_(Kind::real), real_(value) {
    link();
}

Constant::Constant(std::initializer_list<const char *> keywords) noexcept : kind_(Kind::keywords) {
    // A call site names at most a handful of keywords; more is a build error
    // caught by the first import.
    if (keywords.size() > kMaxKeywords) std::abort();
    for (const char *keyword : keywords) keywords_[keyword_count_++] = keyword;
    link();
}

void Constant::link() noexcept {
    next_ = first_constant;
    first_constant = this;
}

PyObject *Constant::make() const {
    switch (kind_) {
        case Kind::identifier:
        case Kind::text:
            return PyUnicode_InternFromString(text_);
        case Kind::integer:
            return PyLong_FromLong(a_);
        case Kind::real:
            return PyFloat_FromDouble(real_);
        case Kind::int_pair:
            return Py_BuildValue("(ll)", a_, b_);
        case Kind::slice_from: {
            PyObject *start = PyLong_FromLong(a_);
            if (start == nullptr) return nullptr;
            PyObject *slice = PySlice_New(start, nullptr, nullptr);
            Py_DECREF(start);
            return slice;
        }
        case Kind::keywords: {
            PyObject *tuple = PyTuple_New(keyword_count_);
            if (tuple == nullptr) return nullptr;
            for (int i = 0; i < keyword_count_; ++i) {
                PyObject *name = PyUnicode_InternFromString(keywords_[i]);
                if (name == nullptr) {
                    Py_DECREF(tuple);
                    return nullptr;
                }
                PyTuple_SET_ITEM(tuple, i, name);
            }
            return tuple;
        }
    }
    PyErr_SetString(PyExc_SystemError, "unknown kind of constant");
    return nullptr;
}

void make_constants() {
    for (Constant *c = first_constant; c != nullptr; c = c->next_) {
        if (c->object_ == nullptr) c->object_ = steal(c->make()).release().ptr();
    }
}

}  // namespace duzer::interp

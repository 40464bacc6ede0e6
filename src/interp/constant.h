// Objects made once when the module executes and shared by every call:
// interned identifiers and texts, keyword-name tuples, numbers. Each is a
// namespace-scope object of the file that uses it; its constructor links it
// into one list, and the exec step makes every object on that list
// (`make_constants`), so no call ever creates one.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/pybind11.h>

#include <initializer_list>

namespace py = pybind11;

namespace duzer::interp {

class Constant {
  public:
    Constant(const Constant &) = delete;
    Constant &operator=(const Constant &) = delete;

    /// The object; NULL before the exec step has made it.
    PyObject *ptr() const noexcept { return object_; }
    operator PyObject *() const noexcept { return object_; }
    operator py::handle() const noexcept { return object_; }

  protected:
    enum class Kind { identifier, text, integer, real, int_pair, slice_from, keywords };
    static constexpr int kMaxKeywords = 4;

    Constant(Kind kind, const char *text) noexcept;
    Constant(Kind kind, long a, long b = 0) noexcept;
    explicit Constant(double value) noexcept;
    explicit Constant(std::initializer_list<const char *> keywords) noexcept;

    const char *text_ = nullptr;

  private:
    friend void make_constants();
    PyObject *make() const;
    void link() noexcept;

    Kind kind_;
    long a_ = 0, b_ = 0;
    double real_ = 0.0;
    const char *keywords_[kMaxKeywords] = {};
    int keyword_count_ = 0;
    Constant *next_ = nullptr;
    mutable PyObject *object_ = nullptr;
};

/// An identifier (attribute, keyword, key or parameter name), interned.
class Identifier : public Constant {
  public:
    explicit Identifier(const char *name) noexcept : Constant(Kind::identifier, name) {}
    /// The name as UTF-8, for messages made before any object exists.
    const char *text() const noexcept { return text_; }
};

/// A str that is no identifier (a printed text, a format spec, a label),
/// interned as well, so that equal texts are one object.
class Text : public Constant {
  public:
    explicit Text(const char *utf8) noexcept : Constant(Kind::text, utf8) {}
};

class Int : public Constant {
  public:
    explicit Int(long value) noexcept : Constant(Kind::integer, value) {}
};

class Float : public Constant {
  public:
    explicit Float(double value) noexcept : Constant(value) {}
};

/// `(a, b)` of two ints.
class IntPair : public Constant {
  public:
    IntPair(long a, long b) noexcept : Constant(Kind::int_pair, a, b) {}
};

/// `slice(start, None)`, the `[start:]` of a subscript.
class SliceFrom : public Constant {
  public:
    explicit SliceFrom(long start) noexcept : Constant(Kind::slice_from, start) {}
};

/// The keyword names of one call site, a tuple of the interned identifiers
/// (the very objects that `Identifier`s of the same names hold).
class KeywordNames : public Constant {
  public:
    KeywordNames(std::initializer_list<const char *> names) noexcept : Constant(names) {}
};

/// Makes every constant not yet made; when one cannot be made, ends the exec
/// step with the pending exception (those made so far stay, and a later exec
/// step goes on from there).
void make_constants();

}  // namespace duzer::interp

// The list operations of interp/object.h that are not one C-API call.
#include "interp/object.h"

namespace duzer::interp {

void extend(Ref list, Ref iterable) {
    if (compat::list_extend(list.ptr(), iterable.ptr()) < 0)
        raise_not_iterable(iterable.ptr(), "Value after * must be an iterable, not %.200s");
}

py::object sorted_list(py::handle iterable) {
    py::object result = list_of(iterable);
    check(may_end_thread([&] { return PyList_Sort(result.ptr()); }));
    return result;
}

}  // namespace duzer::interp

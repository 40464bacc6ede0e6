// Device choice: both operands of the GPU test are always evaluated.
#include "pipeline/device.h"

#include "interp/call.h"

namespace duzer {

using namespace interp;

void choose_device(Run &run) {
    const Names &n = names();
    py::object wants_gpu = compare(get(run.setting, n.deviceSel, n.gpu), n.gpu, Py_EQ);
    py::object available = call_method(attr(global(n.torch), n.cuda), n.is_available);
    py::object use_gpu = steal(PyNumber_And(wants_gpu.ptr(), available.ptr()));
    py::object dev;
    if (truth(use_gpu)) {
        py::object index = call_method(attr(global(n.torch), n.cuda), n.current_device);
        dev = add(n.cuda_prefix, steal(PyObject_Str(index.ptr())));
        py::object line = add(add(n.gpu_device_label, dev), n.triple_dash);
        print_line(
            add(line, call_method(attr(global(n.torch), n.cuda), n.get_device_name, n.int_0)));
    } else {
        dev = py::reinterpret_borrow<py::object>(n.cpu);
        print_line(n.cpu_device_line);
        if (equals(call_method(run.setting, n.get, n.deviceSel), n.gpu)) {
            print_line(n.gpu_hint);
            print_line(n.gpu_help_1);
            print_line(n.gpu_help_2);
        }
    }
    run.vars().set(Scope::device, call(attr(global(n.torch), n.device), dev));
}

}  // namespace duzer

// Device choice: both operands of the GPU test are always evaluated.
#include "pipeline/device.h"

#include "interp/call.h"
#include "interp/state.h"

namespace duzer {

using namespace interp;

void choose_device(Run &run) {
    const Names &n = names();
    // if (setting.get("deviceSel", "gpu") == "gpu") & torch.cuda.is_available():
    py::object selected = get(run.setting, n.deviceSel, n.gpu);
    py::object wants_gpu = compare(selected, n.gpu, Py_EQ);
    py::object available = call_method(global_attr(n.torch, n.cuda), n.is_available);
    py::object use_gpu = bit_and(wants_gpu, available);
    py::object dev;
    if (truth(use_gpu)) {
        // dev = "cuda:" + str(torch.cuda.current_device())
        py::object index = call_method(global_attr(n.torch, n.cuda), n.current_device);
        py::object index_text = str_of(index);
        dev = add(n.cuda_prefix, index_text);
        // print("当前设备为：" + dev + "---" + torch.cuda.get_device_name(0))
        py::object line = add(n.gpu_device_label, dev);
        line = add(line, n.triple_dash);
        py::object name = call_method(global_attr(n.torch, n.cuda), n.get_device_name, n.int_0);
        line = add(line, name);
        print_line(line);
    } else {
        dev = borrow(n.cpu);
        print_line(n.cpu_device_line);
        // if setting.get("deviceSel") == "gpu":
        py::object selected_again = call_method(run.setting, n.get, n.deviceSel);
        if (equals(selected_again, n.gpu)) {
            print_line(n.gpu_hint);
            print_line(n.gpu_help_1);
            print_line(n.gpu_help_2);
        }
    }
    // device = torch.device(dev)
    py::object torch_device = global_attr(n.torch, n.device);
    py::object device = call(torch_device, dev);
    run.vars().set(Scope::device, device);
}

}  // namespace duzer

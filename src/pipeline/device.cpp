// Device choice: both operands of the GPU test are always evaluated.
#include "pipeline/device.h"

#include "interp/call.h"
#include "model/call_scope.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kDeviceSel{"deviceSel"}, kGpu{"gpu"}, kCuda{"cuda"}, kIsAvailable{"is_available"},
    kCurrentDevice{"current_device"}, kGetDeviceName{"get_device_name"};
const Text kCudaPrefix{"cuda:"}, kNameSeparator{"---"}, kGpuDeviceLabel{"当前设备为："},
    kCpuDeviceLine{"当前设备为cpu"},
    kGpuHint{"如果选择使用gpu但显示使用CPU，可能是硬件设备不可用。可以参考下述链接解决:"},
    kGpuHelpInstall{"https://pytorch.org/get-started/locally/"},
    kGpuHelpCuda{"https://pytorch.org/docs/stable/notes/cuda.html"};
}  // namespace

void choose_device(Scope &vars, py::handle setting) {
    // if (setting.get("deviceSel", "gpu") == "gpu") & torch.cuda.is_available():
    py::object selected = get(setting, kDeviceSel, kGpu);
    py::object wants_gpu = eq(selected, kGpu);
    py::object available = call_method(attr(global(id::torch), kCuda), kIsAvailable);
    py::object use_gpu = bit_and(wants_gpu, available);
    py::object dev;
    if (truth(use_gpu)) {
        // dev = "cuda:" + str(torch.cuda.current_device())
        py::object index = call_method(attr(global(id::torch), kCuda), kCurrentDevice);
        py::object index_text = str_of(index);
        dev = add(kCudaPrefix, index_text);
        // print("当前设备为：" + dev + "---" + torch.cuda.get_device_name(0))
        py::object line = add(kGpuDeviceLabel, dev);
        line = add(line, kNameSeparator);
        py::object name = call_method(attr(global(id::torch), kCuda), kGetDeviceName, lit::zero);
        line = add(line, name);
        print_line(line);
    } else {
        dev = borrow(id::cpu);
        print_line(kCpuDeviceLine);
        // if setting.get("deviceSel") == "gpu":
        py::object selected_again = get(setting, kDeviceSel);
        if (equals(selected_again, kGpu)) {
            print_line(kGpuHint);
            print_line(kGpuHelpInstall);
            print_line(kGpuHelpCuda);
        }
    }
    // device = torch.device(dev)
    Method torch_device = method(global(id::torch), id::device);
    py::object device = call(torch_device, dev);
    vars.set(CallScope::device, device);
}

}  // namespace duzer

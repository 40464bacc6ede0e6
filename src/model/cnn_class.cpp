// Class creation for `CNN`, as a class statement inside FunClassCNNs makes it.
#include "interp/call.h"
#include "interp/classdef.h"
#include "interp/module.h"
#include "model/call_scope.h"
#include "model/cnn.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kModule{"Module"};
const Text kClassQualname{"FunClassCNNs.<locals>.CNN"},
    kInitQualname{"FunClassCNNs.<locals>.CNN.__init__"},
    kProbeQualname{"FunClassCNNs.<locals>.CNN.get_conv_output_size"},
    kForwardQualname{"FunClassCNNs.<locals>.CNN.forward"},
    kProbeDoc{"\n            计算卷积层输出的特征图大小\n            "},
    kForwardDoc{"\n            前向传播\n            "};
}  // namespace

void define_cnn_class(py::handle scope) {
    // class CNN(nn.Module):
    py::object module_base = attr(global(id::nn), kModule);
    py::object bases = new_tuple(module_base);
    ClassBody body = begin_class(id::CNN, kClassQualname, kModuleName, bases);
    py::object init = new_function(kCnnInit, kInitQualname, Py_None, scope.ptr());
    setitem(body.namespace_, id::__init__, init);
    py::object probe = new_function(kCnnProbe, kProbeQualname, kProbeDoc, scope.ptr());
    setitem(body.namespace_, id::get_conv_output_size, probe);
    py::object forward = new_function(kCnnForward, kForwardQualname, kForwardDoc, nullptr);
    setitem(body.namespace_, id::forward, forward);
    py::object cnn = finish_class(body);
    as_scope(scope).set(CallScope::CNN, cnn);
}

}  // namespace duzer

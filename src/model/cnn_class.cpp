// Class creation for `CNN`, as a class statement inside FunClassCNNs makes it.
#include "interp/call.h"
#include "interp/classdef.h"
#include "interp/state.h"
#include "model/cnn.h"

namespace duzer {

using namespace interp;

void define_cnn_class(Run &run) {
    const Names &n = names();
    // class CNN(nn.Module):
    py::object module_base = global_attr(n.nn, n.Module);
    py::object bases = new_tuple(module_base);
    ClassBody body = begin_class(n.CNN, n.cnn_qualname, n.module_name, bases);
    PyObject *scope = run.scope.ptr();
    py::object init = new_function(kCnnInit, n.init_qualname, Py_None, scope);
    setitem(body.namespace_, n.__init__, init);
    py::object probe = new_function(kCnnProbe, n.probe_qualname, n.probe_doc, scope);
    setitem(body.namespace_, n.get_conv_output_size, probe);
    py::object forward = new_function(kCnnForward, n.forward_qualname, n.forward_doc, nullptr);
    setitem(body.namespace_, n.forward, forward);
    py::object cnn = finish_class(body);
    run.vars().set(Scope::CNN, cnn);
}

}  // namespace duzer

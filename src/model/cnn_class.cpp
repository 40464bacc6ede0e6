// Class creation for `CNN`, as a class statement inside FunClassCNNs makes it.
#include "interp/call.h"
#include "interp/classdef.h"
#include "model/cnn.h"

namespace duzer {

using namespace interp;

void define_cnn_class(Run &run) {
    const Names &n = names();
    py::object bases = make_tuple(attr(global(n.nn), n.Module));
    ClassBody body = begin_class(n.CNN, n.cnn_qualname, n.module_name, bases);
    PyObject *scope = run.scope.ptr();
    setitem(body.namespace_, n.__init__, new_function(kCnnInit, n.init_qualname, Py_None, scope));
    setitem(body.namespace_, n.get_conv_output_size,
            new_function(kCnnProbe, n.probe_qualname, n.probe_doc, scope));
    setitem(body.namespace_, n.forward,
            new_function(kCnnForward, n.forward_qualname, n.forward_doc, nullptr));
    run.vars().set(Scope::CNN, finish_class(body));
}

}  // namespace duzer

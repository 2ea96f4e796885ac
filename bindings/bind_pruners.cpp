#include "bindings.hpp"
#include "tarvex/pruners.hpp"

namespace tarvex::python {

void bind_pruners(py::module_& m) { py::class_<IPruner, std::shared_ptr<IPruner>>(m, "IPruner"); }

}  // namespace tarvex::python

#include "ports/Port.h"

#include "ports/HardwarePorts.h"
#include "ports/SimPort.h"

namespace mvx {

std::unique_ptr<Port> makePort(const PortSpec& chosen, std::string& error) {
    switch (chosen.kind) {
        case PortSpec::Kind::Sim:
            return makeSimPort(chosen, error);
        case PortSpec::Kind::Path:
            return makeSerialPathPort(chosen.path, error);
        case PortSpec::Kind::AdapterIndex:
            return makeAdapterListPort(chosen.index, error);
    }
    error = "unknown kind of port";
    return nullptr;
}

}  // namespace mvx

#include "ports/Port.h"

#include "ports/HardwarePorts.h"
#include "ports/SimPort.h"

namespace mvx {

std::unique_ptr<Port> makePort(const PortSpec& portSpec, std::string& error) {
    switch (portSpec.kind) {
        case PortSpec::Kind::Sim:
            return makeSimPort(portSpec, error);
        case PortSpec::Kind::Path:
            return makeSerialPathPort(portSpec.path, error);
        case PortSpec::Kind::AdapterIndex:
            return makeAdapterListPort(portSpec.index, error);
    }
    error = "unknown kind of port";
    return nullptr;
}

}  // namespace mvx

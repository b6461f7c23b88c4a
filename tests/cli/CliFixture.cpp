#include "CliFixture.h"

namespace mvx::test {

int CliTest::run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return cli::run(args, out_, err_, env);
}

int CliTest::run(const std::vector<std::string>& args, std::ostream& out) {
    out_.str("");
    err_.str("");
    return cli::run(args, out, err_, env);
}

int CliTest::hostPackets(std::uint8_t instruction) const {
    int count = 0;
    for (const auto& t : bus.traffic()) {
        const auto& b = t.bytes;
        if (t.direction == SimTraffic::HostToBus && b.size() >= 6 && b[0] == 0xFF && b[1] == 0xFF &&
            b[4] == instruction) {
            ++count;
        }
    }
    return count;
}

bool CliTest::anyHostBytes() const {
    for (const auto& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus) {
            return true;
        }
    }
    return false;
}

SimulatedDevice& CliTest::device(std::uint8_t code, std::uint8_t id) {
    SimulatedDevice* found = bus.find(code, id);
    EXPECT_NE(found, nullptr) << "no simulated device at code " << int(code) << " ID " << int(id);
    return *found;
}

}  // namespace mvx::test

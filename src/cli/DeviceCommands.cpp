// ping, info, read, write, set and reset-defaults: the commands on one device.
#include <functional>
#include <memory>
#include <vector>

#include "cli/Commands.h"
#include "cli/Messages.h"
#include "cli/NamedRegister.h"
#include "cli/Session.h"
#include "device/DeviceEntry.h"
#include "device/ServoRecord.h"
#include "protocol/BusConnection.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx::cli {

namespace {

// Error bits by which a device refuses a write (the others report its own state).
constexpr int kRefusalBits = InstructionError | RangeError | ChecksumError;

using DeviceAction = std::function<int(Session&, DeviceEntry&)>;

// Opens the port, probes the device of the options and runs `action` on it.
int withDevice(CommandContext& context, const DeviceAction& action) {
    const CliOptions& options = context.options;
    std::unique_ptr<Session> opened;
    if (const int status = openSession(context, opened); status != kExitOk) {
        return status;
    }
    Session& session = *opened;
    DeviceEntry* entry = nullptr;
    const int result = session.probe(options.baud, options.id, entry);
    if (result != Success) {
        printError(context.err, "no device found at " + addressText(options.baud, options.id) +
                                    ": " + resultWords(result));
        return kExitFailed;
    }
    return action(session, *entry);
}

// Reports a failed bus operation on the device.
int busFailure(CommandContext& context, int code, int id, int result) {
    printError(context.err, addressText(code, id) + ": " + resultWords(result));
    return kExitFailed;
}

}  // namespace

int pingCommand(CommandContext& context) {
    const CliOptions& options = context.options;
    std::unique_ptr<Session> opened;
    if (const int status = openSession(context, opened); status != kExitOk) {
        return status;
    }
    Session& session = *opened;
    BusConnection& bus = session.registry().bus();
    int result = bus.tune(static_cast<std::uint8_t>(options.baud));
    if (result == Success) {
        auto link = bus.link();
        result = link ? ping(*link, static_cast<std::uint8_t>(options.id)) : AdapterFailure;
    }
    if (result != Success) {
        return busFailure(context, options.baud, options.id, result);
    }
    context.out << addressText(options.baud, options.id) << ": answered\n";
    return kExitOk;
}

int infoCommand(CommandContext& context) {
    return withDevice(context, [&context](Session&, DeviceEntry& entry) {
        if (context.options.json) {
            context.out << infoJson(entry).dump(2) << '\n';
        } else {
            printDeviceInfo(entry, context.out);
        }
        return kExitOk;
    });
}

int readCommand(CommandContext& context) {
    return withDevice(context, [&context](Session&, DeviceEntry& entry) {
        const CliOptions& options = context.options;
        std::shared_ptr<AdapterLink> link;
        int result = entry.tuneLink(link);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(options.length));
        if (result == Success) {
            result = readBlock(*link, static_cast<std::uint8_t>(entry.id()),
                               static_cast<std::uint8_t>(options.address),
                               static_cast<std::uint8_t>(options.length), bytes.data());
        }
        if (result != Success) {
            return busFailure(context, entry.baudCode(), entry.id(), result);
        }
        for (int i = 0; i < options.length; ++i) {
            context.out << options.address + i << ' ' << static_cast<int>(bytes[i]) << '\n';
        }
        return kExitOk;
    });
}

int writeCommand(CommandContext& context) {
    return withDevice(context, [&context](Session& session, DeviceEntry& entry) {
        const CliOptions& options = context.options;
        std::shared_ptr<AdapterLink> link;
        int result = entry.tuneLink(link);
        StatusPacket status;
        if (result == Success) {
            const auto id = static_cast<std::uint8_t>(entry.id());
            const auto address = static_cast<std::uint8_t>(options.address);
            const auto low = static_cast<std::uint8_t>(options.value & 0xFF);
            const auto high = static_cast<std::uint8_t>((options.value >> 8) & 0xFF);
            const InstructionPacket packet =
                options.word ? InstructionPacket::make(id, Write, {address, low, high})
                             : InstructionPacket::make(id, Write, {address, low});
            const int sent = transact(*link, packet, status);
            result = judgeByRecordRule(sent, entry.returnLevel());
            if (sent == Success && (status.error & kRefusalBits) != 0) {
                printError(context.err, addressText(entry.baudCode(), entry.id()) +
                                            ": the device refused the write (" +
                                            flagText(status.error & kRefusalBits) + ")");
                return kExitFailed;
            }
        }
        if (result != Success) {
            return busFailure(context, entry.baudCode(), entry.id(), result);
        }
        if (options.address < kSettlingAddressLimit) {
            session.port().clock().sleepMs(kSettlingWaitMs);
        }
        context.out << addressText(entry.baudCode(), entry.id()) << ": wrote " << options.value
                    << " to register " << options.address << (options.word ? " (word)" : "")
                    << '\n';
        return kExitOk;
    });
}

int setCommand(CommandContext& context) {
    return withDevice(context, [&context](Session& session, DeviceEntry& entry) {
        const CliOptions& options = context.options;
        const NamedRegister* reg = findNamedRegister(options.registerName);
        const int code = entry.baudCode();
        const int id = entry.id();
        std::string refusal;
        const int result =
            applyNamedRegister(*reg, options.registerValue, session.registry(), entry, refusal);
        if (!refusal.empty()) {
            printError(context.err, addressText(code, id) + ": " + refusal);
            return kExitFailed;
        }
        if (result != Success) {
            return busFailure(context, code, id, result);
        }
        context.out << addressText(entry.baudCode(), entry.id()) << ": " << reg->name << " = "
                    << options.valueText << '\n';
        return kExitOk;
    });
}

int resetDefaultsCommand(CommandContext& context) {
    return withDevice(context, [&context](Session&, DeviceEntry& entry) {
        if (entry.servoRecord() == nullptr) {
            context.out << addressText(entry.baudCode(), entry.id()) << ": nothing to reset ("
                        << classText(entry.modelClass()) << " " << displayName(entry.modelNumber())
                        << ")\n";
            return kExitOk;
        }
        const int result = entry.resetToDefaults();
        if (result != Success) {
            return busFailure(context, entry.baudCode(), entry.id(), result);
        }
        context.out << addressText(entry.baudCode(), entry.id()) << ": defaults restored\n";
        return kExitOk;
    });
}

}  // namespace mvx::cli

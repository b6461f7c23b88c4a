// regs: a device's whole control table, one row per register item of its model (the register
// table of the core), read in as few blocks as the items allow.
#include <array>
#include <iomanip>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/Commands.h"
#include "cli/Messages.h"
#include "cli/Session.h"
#include "device/DeviceEntry.h"
#include "device/RegisterTable.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx::cli {

namespace {

nlohmann::json rowJson(const RegisterRow& row) {
    nlohmann::json object = {
        {"address", row.item.address},
        {"name", row.item.name},
        {"size", sizeText(row.item)},
        {"access", accessText(row.item.access)},
        {"raw", row.raw},
        {"unit", row.unit},
        {"text", row.text},
        {"description", row.item.description},
    };
    if (row.item.unit == RegisterUnit::Flags) {
        object["value"] = row.flags;
    } else if (row.value == static_cast<double>(static_cast<long long>(row.value))) {
        object["value"] = static_cast<long long>(row.value);
    } else {
        object["value"] = row.value;
    }
    return object;
}

void printRows(const std::vector<RegisterRow>& rows, std::ostream& out) {
    std::ostringstream text;
    text << std::left << std::setw(6) << "ADDR" << std::setw(24) << "NAME" << std::setw(6) << "SIZE"
         << std::setw(12) << "ACCESS" << std::setw(7) << "RAW"
         << "VALUE\n";
    for (const RegisterRow& row : rows) {
        text << std::left << std::setw(6) << static_cast<int>(row.item.address) << std::setw(24)
             << row.item.name << std::setw(6) << sizeText(row.item) << std::setw(12)
             << accessText(row.item.access) << std::setw(7) << row.raw << row.text << '\n';
    }
    out << text.str();
}

}  // namespace

int regsCommand(CommandContext& context) {
    const CliOptions& options = context.options;
    std::unique_ptr<Session> opened;
    if (const int status = openSession(context, opened); status != kExitOk) {
        return status;
    }
    DeviceEntry* entry = nullptr;
    int result = opened->probe(options.baud, options.id, entry);
    if (result != Success) {
        printError(context.err, "no device found at " + addressText(options.baud, options.id) +
                                    ": " + resultWords(result));
        return kExitFailed;
    }
    const std::vector<RegisterItem> items = registerItems(entry->modelNumber());
    std::array<std::uint8_t, 256> table{};
    std::shared_ptr<AdapterLink> link;
    result = entry->tuneLink(link);
    for (const auto& [first, length] : readBlocks(items)) {
        if (result != Success) {
            break;
        }
        result = readBlock(*link, static_cast<std::uint8_t>(entry->id()), first, length,
                           table.data() + first);
    }
    if (result != Success) {
        printError(context.err,
                   addressText(entry->baudCode(), entry->id()) + ": " + resultWords(result));
        return kExitFailed;
    }
    std::vector<RegisterRow> rows;
    rows.reserve(items.size());
    for (const RegisterItem& item : items) {
        rows.push_back(registerRow(item, rawValue(item, table.data()), entry->modelNumber()));
    }
    if (options.json) {
        nlohmann::json array = nlohmann::json::array();
        for (const RegisterRow& row : rows) {
            array.push_back(rowJson(row));
        }
        context.out << array.dump(2) << '\n';
    } else {
        printRows(rows, context.out);
    }
    return kExitOk;
}

}  // namespace mvx::cli

#include "gui/app/Texts.h"

#include "protocol/ResultCode.h"

namespace mvx::gui::texts {

QString foundCount(int count) {
    return QStringLiteral("%1 Movantrix(s) Found").arg(count);
}

QString foundCountPadded(int count) {
    return QStringLiteral("%1 Movantrix(s) Found").arg(count, 3);
}

QString makingSure(int ordinal, int total) {
    return QStringLiteral("Making sure\u2026 code %1 of %2").arg(ordinal).arg(total);
}

QString searchNotSure(const std::vector<int>& codes) {
    QStringList shown;
    for (const int code : codes) {
        shown << QString::number(code);
    }
    return QStringLiteral(
               "Not sure: the search ended before it made sure of code(s) %1; a device there may "
               "be missing")
        .arg(shown.join(QStringLiteral(", ")));
}

QString resultWords(int result) {
    return QStringLiteral("%1, %2").arg(QString::fromLatin1(resultText(result))).arg(result);
}

QString telemetryTitle(int id, int code) {
    return QStringLiteral("Movantrix Telemetry - ID %1, Baud %2").arg(id).arg(code);
}

QString telemetryNoAnswer(int id) {
    return QStringLiteral("No answer from ID %1: sampling stopped").arg(id);
}

QString telemetryDeviceGone(int id) {
    return QStringLiteral("ID %1 is no longer on the device list: sampling stopped").arg(id);
}

QString busLogSaveFailed(const QString& reason) {
    return QStringLiteral("Can not write the file!\n\n%1").arg(reason);
}

QString busLogCount(int shown, std::size_t kept) {
    return QStringLiteral("%1 of %2 lines shown").arg(shown).arg(kept);
}

QString controlTableUnknownModel(int modelNumber) {
    return QStringLiteral(
               "Model %1 is not in the catalogue: the registers of this device are not known.")
        .arg(modelNumber);
}

QString controlTableNoReads(int id) {
    return QStringLiteral(
               "ID %1 answers no reads (status return level 0): its registers can not be read.")
        .arg(id);
}

QString controlTableRefused(const QString& reason) {
    return QStringLiteral("The value was not written!\n\n%1").arg(reason);
}

QString telemetrySaveFailed(const QString& reason) {
    return QStringLiteral(
               "Can not write the file!\n\n%1\n\nThe samples stay in this window for another try.")
        .arg(reason);
}

QString telemetryStatus(double rateHz, int samples, int gaps) {
    return QStringLiteral("Sample rate: %1 Hz   Samples: %2   Gaps: %3")
        .arg(rateHz, 0, 'f', 1)
        .arg(samples)
        .arg(gaps);
}

QString adapterLimitations(const QStringList& limitations) {
    QString text = QStringLiteral("The adapter works, but not every setting took effect:\n");
    for (const QString& line : limitations) {
        text += QStringLiteral("\n- ") + line;
    }
    text += QStringLiteral(
        "\n\nFor all its settings, give your user access to the adapter over USB (the udev "
        "rules installed with Movantrix Manager); see ADAPTER ACCESS in "
        "movantrix-manager(1).");
    return text;
}

}  // namespace mvx::gui::texts

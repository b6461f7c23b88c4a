// The program's own texts that code sets (forms hold the rest): messages, formats, titles.
// They are the product's wording, kept word for word, spaces and line breaks included.
#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <vector>

namespace mvx::gui::texts {

inline const QString kMessageCaption = QStringLiteral("Movantrix Manager");
inline const QString kMainWindowTitle = QStringLiteral("Movantrix Manager for Linux");
inline const QString kVersionText = QStringLiteral("v0.98");

inline const QString kAdapterNotFound =
    QStringLiteral("Can not find USB2Movantrix! \n\nPlease check connection.");
inline const QString kAdapterAccessFailed =
    QStringLiteral("USB2Movantrix access failed! \n\nPlease check connection.");
inline const QString kDeviceAccessFailed = QStringLiteral(
    "Movantrix access failed! \n\nPlease check USB2Movantrix, movantrix(s), and power "
    "connection. ");
// The settings files and robot profiles: the file dialogs' filters and suffix, and a file that
// cannot be loaded (%1: why).
inline const QString kJsonSuffix = QStringLiteral("json");
inline const QString kSettingsFilter = QStringLiteral("Movantrix Settings (*.json)");
inline const QString kProfileFilter = QStringLiteral("Movantrix Robot Profile (*.json)");
inline const QString kSettingsLoadRefused = QStringLiteral("Can not load the settings file!\n\n%1");
inline const QString kProfileLoadRefused = QStringLiteral("Can not load the robot profile!\n\n%1");
// A robot window's search that failed; %1: the result's words.
inline const QString kRobotSearchFailed = QStringLiteral("The search failed (%1).");
// The telemetry window: its title, the lines that say why sampling stopped, and a failed save.
// A result code for a message: "its words, N".
QString resultWords(int result);
QString telemetryTitle(int id, int code);
QString telemetryNoAnswer(int id);
QString telemetryDeviceGone(int id);
inline const QString kTelemetryConnectionClosed =
    QStringLiteral("Connection closed: sampling stopped");
// `reason`: "PATH: what went wrong".
QString telemetrySaveFailed(const QString& reason);
// The Bus Log window: a file that could not be written; the rows shown and those kept.
QString busLogSaveFailed(const QString& reason);
QString busLogCount(int shown, std::size_t kept);
// The Control Table page of a device it can not list.
QString controlTableUnknownModel(int modelNumber);
QString controlTableNoReads(int id);
// A value the Control Table page did not write; `reason` says why.
QString controlTableRefused(const QString& reason);
inline const QString kTelemetryPause = QStringLiteral("Pause");
inline const QString kTelemetryResume = QStringLiteral("Resume");
// The status line under the plots: the achieved rate, the reads and the gaps so far.
QString telemetryStatus(double rateHz, int samples, int gaps);
// The one-time notice after opening an adapter whose tty did not take every setting.
QString adapterLimitations(const QStringList& limitations);
inline const QString kUnknownDeviceName = QStringLiteral("Unknown device name");

// "%d Movantrix(s) Found" in the main view; the search dialog pads the number to three places.
QString foundCount(int count);
QString foundCountPadded(int count);
// The fast search listening out the time devices get to answer at the `ordinal`th of `total`
// baud rates it visits.
QString makingSure(int ordinal, int total);
// A search that ended (OK, Stop) before it made sure of these baud-rate codes.
QString searchNotSure(const std::vector<int>& codes);

inline const QString kGroupFormat = QStringLiteral("Baudrate %1");
inline const QString kDeviceFormat = QStringLiteral("ID %1");

}  // namespace mvx::gui::texts

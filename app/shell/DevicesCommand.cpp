#include "app/shell/DevicesCommand.h"

#include "app/shell/CommandSupport.h"
#include "audio/format/NSXException.h"
#include "audio/hardware/VELKAudioHardware.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

struct DeviceRow {
    AudioDeviceID id;
    QString uid;
    QString name;
    uint32_t inputChannels;
    uint32_t outputChannels;
    double sampleRate;
    bool defaultInput;
    bool defaultOutput;
    bool systemOutput;
};

QList<DeviceRow> readDevices() {
    const AudioDeviceID defaultInput = VELKAudioHardware::defaultInputDeviceID();
    const AudioDeviceID defaultOutput = VELKAudioHardware::defaultOutputDeviceID();
    const AudioDeviceID systemOutput = VELKAudioHardware::systemOutputDeviceID();
    QList<DeviceRow> rows;
    for (const auto& device : VELKAudioHardware::allDevices()) {
        const uint32_t inputs = device->numberOfRecordChannels();
        rows.append({device->deviceID(), QString::fromStdString(device->deviceUID()),
                     QString::fromStdString(device->deviceName()), inputs,
                     device->numberOfPlaybackChannels(),
                     device->sampleRateForDirection(inputs > 0 ? kVELKAudioDirectionInput
                                                               : kVELKAudioDirectionOutput),
                     device->deviceID() == defaultInput, device->deviceID() == defaultOutput,
                     device->deviceID() == systemOutput});
    }
    return rows;
}

void printJson(const QList<DeviceRow>& rows) {
    QJsonArray array;
    for (const auto& row : rows) {
        array.append(QJsonObject{
            {"id", static_cast<qint64>(row.id)},
            {"uid", row.uid},
            {"name", row.name},
            {"inputChannels", static_cast<qint64>(row.inputChannels)},
            {"outputChannels", static_cast<qint64>(row.outputChannels)},
            {"sampleRate", row.sampleRate},
            {"defaultInput", row.defaultInput},
            {"defaultOutput", row.defaultOutput},
            {"systemOutput", row.systemOutput},
        });
    }
    std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
}

void printTable(const QList<DeviceRow>& rows) {
    std::printf("%6s  %3s  %3s  %8s  %-40s  %s\n", "ID", "IN", "OUT", "RATE", "UID", "NAME");
    for (const auto& row : rows) {
        QStringList marks;
        if (row.defaultInput) {
            marks << QStringLiteral("default input");
        }
        if (row.defaultOutput) {
            marks << QStringLiteral("default output");
        }
        if (row.systemOutput) {
            marks << QStringLiteral("system output");
        }
        QString name = row.name;
        if (!marks.isEmpty()) {
            name += QStringLiteral("  [%1]").arg(marks.join(QStringLiteral(", ")));
        }
        std::printf("%6u  %3u  %3u  %8.0f  %-40s  %s\n", row.id, row.inputChannels,
                    row.outputChannels, row.sampleRate, row.uid.toUtf8().constData(),
                    name.toUtf8().constData());
    }
}

// Prints one line per notice the shared hardware object delivers.
class NoticePrinter : public VELKAudioHardwareDelegate {
public:
    void defaultInputDeviceDidChange() override { print("defaultInputDeviceDidChange"); }
    void deviceListDidChange() override { print("deviceListDidChange"); }
    void defaultInputDeviceSampleRateDidChange() override {
        print("defaultInputDeviceSampleRateDidChange");
    }

private:
    static void print(const char* notice) {
        std::printf("%s\n", notice);
        std::fflush(stdout);
    }
};

int watch() {
    CommandSupport::catchInterrupts();
    NoticePrinter printer;
    VELKAudioHardware& hardware = VELKAudioHardware::sharedInstance();
    hardware.addDelegate(&printer);
    while (!CommandSupport::interrupted()) {
        CommandSupport::runNextNotices();
    }
    hardware.removeDelegate(&printer);
    return 0;
}

} // namespace

int runDevicesCommand(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    const QCommandLineOption watchOption(QStringLiteral("watch"),
                                         QStringLiteral("Print device notices until interrupted."));
    parser.addOption(json);
    parser.addOption(watchOption);
    if (!CommandSupport::parse(parser, QStringLiteral("devices"), arguments)) {
        return 1;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return CommandSupport::fail(QStringLiteral("devices takes no arguments"));
    }
    try {
        if (parser.isSet(watchOption)) {
            return watch();
        }
        const auto rows = readDevices();
        if (parser.isSet(json)) {
            printJson(rows);
        } else {
            printTable(rows);
        }
        return 0;
    } catch (const NSXException& exception) {
        return CommandSupport::fail(CommandSupport::describe(exception));
    }
}

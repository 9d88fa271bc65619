// A Qt generic plugin that stands for code a local user makes the program
// load (QT_PLUGIN_PATH with QT_QPA_GENERIC_PLUGINS=qvprobe). Loaded, it writes
// to the file named by QV_PROBE_OUT the process's capability sets and
// whether it could add an address to lo; from then on it also appends the
// text of every message box the program shows, which X input cannot read.
// Used by tests/e2e/installed-e2e.sh.
#include <QCoreApplication>
#include <QEvent>
#include <QGenericPlugin>
#include <QMessageBox>
#include <QObject>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {
class BoxRecorder : public QObject {
public:
    explicit BoxRecorder(std::string path) : m_path(std::move(path)) {}

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* box = qobject_cast<QMessageBox*>(object))
                std::ofstream(m_path, std::ios::app) << "box: " << box->text().toStdString() << "\n";
        }
        return false;
    }

private:
    std::string m_path;
};
}  // namespace

class CapabilityProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "CapabilityProbePlugin.json")

public:
    QObject* create(const QString&, const QString&) override {
        const char* out = std::getenv("QV_PROBE_OUT");
        if (out == nullptr) return nullptr;
        {
            std::ofstream report(out);
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("CapPrm:", 0) == 0 || line.rfind("CapEff:", 0) == 0 || line.rfind("CapAmb:", 0) == 0)
                    report << line << "\n";
            }
            int result = std::system("ip addr add 127.77.0.1/32 dev lo 2>/dev/null");
            report << "ip-addr-add: " << (result == 0 ? "succeeded" : "refused") << "\n";
        }
        auto* recorder = new BoxRecorder(out);
        QCoreApplication::instance()->installEventFilter(recorder);
        return recorder;
    }
};

#include "CapabilityProbePlugin.moc"

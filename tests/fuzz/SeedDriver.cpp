// Feeds every seed of a fuzz target's corpus to its entry point once, so the seeds run under the debug
// build's sanitizers with the rest of the suite. A failing seed stops the program (trap or sanitizer).

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main()
{
    const QDir seeds(QStringLiteral(SEEDS_DIR));
    const QStringList names = seeds.entryList(QDir::Files);
    for (const QString &name : names) {
        std::printf("%s\n", qPrintable(name));
        QFile file(seeds.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    }
    return names.isEmpty(); // a missing or empty corpus fails too
}

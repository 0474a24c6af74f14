// Feeds every seed of a fuzz target's corpus to its entry point once, so the seeds run under the debug
// build's sanitizers with the rest of the suite. A failing seed stops the program (trap or sanitizer).

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main()
{
    const QDir corpus(QStringLiteral(SEEDS_DIR));
    const QStringList seeds = corpus.entryList(QDir::Files, QDir::Name);
    if (seeds.isEmpty()) {
        std::fprintf(stderr, "no seeds in %s\n", SEEDS_DIR);
        return 1;
    }
    for (const QString &seed : seeds) {
        QFile file(corpus.filePath(seed));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::printf("%s\n", qPrintable(seed));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    }
    return 0;
}

// Feeds every seed of a fuzz target's corpus to its entry point once, so the seeds run under the debug
// build's sanitizers with the rest of the suite. A failing seed stops the program (trap or sanitizer).

#include <QDirIterator>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main()
{
    int seeds = 0;
    for (QDirIterator seed(QStringLiteral(SEEDS_DIR), QDir::Files); seed.hasNext(); ++seeds) {
        QFile file(seed.next());
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
            return 1;
        }
        const QByteArray bytes = file.readAll();
        std::printf("%s\n", qPrintable(file.fileName()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    }
    if (seeds == 0)
        std::fprintf(stderr, "no seeds in %s\n", SEEDS_DIR);
    return seeds == 0;
}

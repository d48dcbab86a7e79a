// Runs the decoder's fuzz entry point over the committed corpus and over a fixed
// number of mutations of it, without libFuzzer: a quick check for the normal and the
// sanitizer builds. Usage: tst_decodecorpus [corpus dir [mutations per file [seed]]]

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int run(const QByteArray& input)
{
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()));
}

QByteArray mutated(QByteArray input, QRandomGenerator& rng)
{
    const int edits = 1 + int(rng.bounded(4u));
    for (int i = 0; i < edits; ++i) {
        switch (rng.bounded(4u)) {
        case 0: // change one octet
            if (!input.isEmpty())
                input[int(rng.bounded(quint32(input.size())))] = char(rng.bounded(256u));
            break;
        case 1: // cut the tail
            input.truncate(int(rng.bounded(quint32(input.size() + 1))));
            break;
        case 2: // append junk
            for (quint32 n = rng.bounded(32u); n > 0; --n)
                input.append(char(rng.bounded(256u)));
            break;
        default: // element count and SQ bit (octet 2: after the layout octet and the type)
            if (input.size() > 2)
                input[2] = char(rng.bounded(256u));
            break;
        }
    }
    return input;
}

} // namespace

int main(int argc, char** argv)
{
    const QDir dir(QString::fromLocal8Bit(argc > 1 ? argv[1] : IEC101_CORPUS_DIR));
    const int mutations = argc > 2 ? QByteArray(argv[2]).toInt() : 2000;
    const quint32 seed = argc > 3 ? QByteArray(argv[3]).toUInt() : QRandomGenerator::system()->generate();
    QRandomGenerator rng(seed);

    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no corpus files in %s\n", qPrintable(dir.path()));
        return 2;
    }
    long inputs = 0;
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        const QByteArray input = file.readAll();
        run(input);
        ++inputs;
        for (int i = 0; i < mutations; ++i, ++inputs)
            run(mutated(input, rng));
    }
    std::printf("decoded %ld inputs from %d corpus files, seed %u\n", inputs, int(files.size()), seed);
    return 0;
}

#include "analysis/AudioAnalyzer.h"

#include "analysis/AudioAnalyzerError.h"
#include "media/AudioFileReader.h"

double AudioAnalyzer::duration(const QString &url)
{
    AudioFileReader reader(url);
    if (!(reader.sampleRate() > 0))
        throw AudioAnalyzerError();
    return double(reader.length()) / reader.sampleRate();
}

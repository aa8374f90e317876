// Prints a tables source's configuration as JSON on the host: linked with the tables file
// by scripts/tables.py, so that the release and try scripts read the tables the setup is
// built from instead of parsing C++.
#include <stdio.h>

#include "vocabulary/setup_config.h"

namespace {

void Text(const char16_t* s) {
    if (!s) {
        fputs("null", stdout);
        return;
    }
    putchar('"');
    for (; *s; ++s) {
        char16_t c = *s;
        if (c == u'"' || c == u'\\')
            printf("\\%c", static_cast<char>(c));
        else if (c >= 0x20 && c < 0x7f)
            putchar(static_cast<char>(c));
        else
            printf("\\u%04x", static_cast<unsigned>(c));
    }
    putchar('"');
}

void Column(const char16_t* const* files) {
    putchar('[');
    for (int i = 0; i < kColumnCount; ++i) {
        if (i) putchar(',');
        Text(files[i]);
    }
    putchar(']');
}

}  // namespace

int main() {
    const SetupConfig& c = setupConfig;
    fputs("{\"redistBaseUrl\":", stdout);
    Text(c.redistBaseUrl);
    fputs(",\"redistNonNtFile\":", stdout);
    Text(c.redistNonNtFile);
    fputs(",\"redistNtFile\":", stdout);
    Text(c.redistNtFile);
    printf(",\"minEngineVersion\":%u,\"packages\":[", static_cast<unsigned>(c.minEngineVersion));
    for (const PackageEntry* p = c.packages; p && p->productName; ++p) {
        if (p != c.packages) putchar(',');
        fputs("{\"downloadUrl\":", stdout);
        Text(p->downloadUrl);
        fputs(",\"operation\":", stdout);
        Text(p->operation);
        fputs(",\"productName\":", stdout);
        Text(p->productName);
        fputs(",\"properties\":", stdout);
        Text(p->properties);
        fputs(",\"expectedVersion\":", stdout);
        Text(p->expectedVersion);
        printf(",\"askFirst\":%d,\"uiLevel\":%d,\"languages\":", static_cast<int>(p->askFirst),
               static_cast<int>(p->uiLevel));
        if (!p->languages) {
            fputs("null}", stdout);
            continue;
        }
        putchar('[');
        for (const LanguageEntry* l = p->languages; l->langId; ++l) {
            if (l != p->languages) putchar(',');
            printf("{\"langId\":%u,\"languageName\":", static_cast<unsigned>(l->langId));
            Text(l->languageName);
            fputs(",\"packageFiles\":", stdout);
            Column(l->packageFiles);
            fputs(",\"patchFiles\":", stdout);
            Column(l->patchFiles);
            putchar('}');
        }
        fputs("]}", stdout);
    }
    puts("]}");
    return 0;
}

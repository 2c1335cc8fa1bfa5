// Feeds arbitrary bytes to the configuration reader and checks that what it
// reads is stable under writing and reading again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/config_xml.h"
#include "tests/config_test_support.h"

namespace {

void Check(bool condition, const char* what, const std::string& detail = "") {
    if (!condition) {
        std::fprintf(stderr, "fuzz_config: %s %s\n", what, detail.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const ServerConfig read = ParseConfigXml(text);
    for (const DnsRecord& record : read.records) {
        Check(record.ttl != 0, "ttl 0 stored");
        Check(record.type == kTypeA || record.type == kTypeMx, "type code", std::to_string(record.type));
        Check(record.name.empty() || record.name.back() != '.', "trailing dot in name");
        Check(record.value.empty() || record.value.back() != '.', "trailing dot in value");
    }

    // parse(build(parse(x))) == parse(x), and building is then idempotent.
    const std::string written = BuildConfigXml(read);
    const ServerConfig reread = ParseConfigXml(written);
    Check(config_test::DescribeDifference(read, reread).empty(),
          "reread differs:", config_test::DescribeDifference(read, reread));
    Check(BuildConfigXml(reread) == written, "second write differs");

    // Escaping is undone exactly, whatever the bytes.
    Check(XmlUnescape(XmlEscape(text)) == text, "unescape(escape(x)) != x");

    // The scanner's results always lie inside the input.
    std::string found;
    if (FindElementText(text, "name", found)) {
        Check(text.find("<name>" + found + "</name>") != std::string_view::npos, "element text not in input");
    }
    for (const std::string& element : FindElements(text, "record")) {
        Check(element.rfind("<record", 0) == 0 && element.size() >= 16, "element shape", element);
        Check(element.compare(element.size() - 9, 9, "</record>") == 0, "element end", element);
    }
    return 0;
}

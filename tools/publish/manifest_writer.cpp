#include "publish/manifest_writer.h"

namespace {

std::string escapedXml(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string element(const std::string& name, const std::string& text) {
    return "    <" + name + ">" + escapedXml(text) + "</" + name + ">\n";
}

}  // namespace

std::string manifestText(const ManifestFields& fields) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Update>\n";
    text += element("AppId", "com.halvornesys.pelorin");
    // The updater reads the version after the last '<' and offers it to every
    // installation below it.
    text += element("Predicate", "Pelorin.Version < " + fields.version);
    text += element("Codebase", fields.packageUrl);
    text += element("Hash", fields.packageHash);
    // Updaters read only the elements they know, so one without a release key
    // passes over these.
    if (!fields.packageSha256.empty()) text += element("Sha256", fields.packageSha256);
    // Passed over by updaters that know no deltas, as the above.
    for (const DeltaFields& delta : fields.deltas) {
        text += "    <Delta from=\"" + escapedXml(delta.fromVersion) + "\" size=\"" +
                std::to_string(delta.size) + "\" hash=\"" + escapedXml(delta.hash) +
                "\" sha256=\"" + escapedXml(delta.sha256) + "\">" + escapedXml(delta.url) +
                "</Delta>\n";
    }
    if (!fields.listUrl.empty()) {
        text += element("Listversion", fields.listVersion);
        text += element("Listfile", fields.listUrl);
        text += element("Listhash", fields.listHash);
        if (!fields.listSha256.empty()) text += element("Listsha256", fields.listSha256);
    }
    return text + "</Update>\n";
}

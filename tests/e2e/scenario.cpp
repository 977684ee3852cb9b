#include "e2e/scenario.h"

#include <tinyxml.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "e2e/log_match.h"

namespace {

class ScenarioError : public std::runtime_error {
public:
    ScenarioError(const std::string& file, const std::string& what)
        : std::runtime_error(file + ": " + what) {}
};

// An element's text as written: CDATA keeps its white space. The line end
// right after "<![CDATA[" only lets the text start on a line of its own.
std::string textOf(const TiXmlElement& element) {
    const char* text = element.GetText();
    std::string value = text ? text : "";
    if (value.rfind("\n", 0) == 0) value.erase(0, 1);
    return value;
}

// A text with C escapes (\r, \n, \\ and \xHH) for bytes a scenario file
// cannot hold as they are.
std::string unescaped(const std::string& text, const std::string& file) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
        } else if (text[++i] == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (text[i] == 'r' || text[i] == 'n' || text[i] == '\\') {
            bytes += text[i] == 'r' ? '\r' : text[i] == 'n' ? '\n' : '\\';
        } else {
            throw ScenarioError(file, "unknown escape \\" + text.substr(i, 1));
        }
    }
    return bytes;
}

std::string attribute(const TiXmlElement& element, const char* name,
                      const std::string& fallback = "") {
    const char* value = element.Attribute(name);
    return value ? value : fallback;
}

std::string requiredAttribute(const TiXmlElement& element, const char* name,
                              const std::string& file) {
    const char* value = element.Attribute(name);
    if (!value) {
        throw ScenarioError(file, "<" + std::string(element.Value()) + "> needs the attribute " +
                                      std::string(name));
    }
    return value;
}

ScenarioServer readServer(const TiXmlElement& element, const std::string& file) {
    ScenarioServer server;
    server.name = requiredAttribute(element, "name", file);
    server.protocol = attribute(element, "protocol", "https");
    if (server.protocol != "https" && server.protocol != "ftp" && server.protocol != "sftp") {
        throw ScenarioError(file, "unknown protocol " + server.protocol);
    }
    server.cert = attribute(element, "cert", "Good");
    server.unreachable = attribute(element, "unreachable") == "true";
    server.silent = attribute(element, "handshake") == "never";
    for (const TiXmlElement* child = element.FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const std::string kind = child->Value();
        const std::string path = requiredAttribute(*child, "path", file);
        if (kind == "File") {
            const std::string text = textOf(*child);
            server.files.push_back(
                {path, attribute(*child, "escapes") == "true" ? unescaped(text, file) : text, "",
                 false});
        } else if (kind == "Package") {
            server.files.push_back({path, "", requiredAttribute(*child, "release", file),
                                    attribute(*child, "programFolder") == "lower-case"});
        } else if (kind == "Rule") {
            server.rules.push_back(
                {path, textOf(*child), std::stoi(attribute(*child, "requests", "0"))});
        } else {
            throw ScenarioError(file, "unknown element <" + kind + "> in <Server>");
        }
    }
    return server;
}

void readInstallation(const TiXmlElement& element, Scenario& scenario, const std::string& file) {
    scenario.installedVersion = requiredAttribute(element, "version", file);
    for (const TiXmlElement* child = element.FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const std::string kind = child->Value();
        if (kind == "File") {
            scenario.installationFiles.push_back(
                {requiredAttribute(*child, "path", file), textOf(*child)});
        } else if (kind == "Browser") {
            scenario.browserClosesAfterUnpackSeconds =
                std::stoi(requiredAttribute(*child, "closesSecondsAfterUnpack", file));
        } else if (kind == "Volume") {
            scenario.volumes.push_back(
                {requiredAttribute(*child, "path", file), attribute(*child, "size"),
                 attribute(*child, "readOnly") == "true",
                 std::stoll(attribute(*child, "free", "-1")), attribute(*child, "fullOnceWritten"),
                 std::stoll(attribute(*child, "fullAtBytes", "1"))});
        } else {
            throw ScenarioError(file, "unknown element <" + kind + "> in <Installation>");
        }
    }
}

std::vector<ExpectedFile> readExpectedFiles(const TiXmlElement& element, const std::string& file) {
    std::vector<ExpectedFile> files;
    for (const TiXmlElement* child = element.FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const std::string kind = child->Value();
        ExpectedFile expected;
        expected.path = requiredAttribute(*child, "path", file);
        if (kind == "File") {
            expected.kind = ExpectedFile::Kind::Content;
            expected.content = textOf(*child);
        } else if (kind == "Directory") {
            expected.kind = ExpectedFile::Kind::Directory;
        } else if (kind == "Absent") {
            expected.kind = ExpectedFile::Kind::Absent;
        } else {
            throw ScenarioError(file, "unknown element <" + kind + "> in <Files>");
        }
        files.push_back(expected);
    }
    return files;
}

}  // namespace

std::string scenariosDirectory() {
    return std::string(PELORIN_SOURCE_DIR) + "/tests/e2e/scenarios";
}

std::vector<std::string> scenarioNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scenariosDirectory())) {
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Scenario loadScenario(const std::string& name) {
    const std::string file = scenariosDirectory() + "/" + name + "/scenario.xml";
    TiXmlDocument document(file.c_str());
    if (!document.LoadFile()) throw ScenarioError(file, document.ErrorDesc());
    const TiXmlElement* root = document.RootElement();
    if (!root || std::string(root->Value()) != "Scenario")
        throw ScenarioError(file, "no <Scenario> root");

    Scenario scenario;
    scenario.name = name;
    for (const TiXmlElement* child = root->FirstChildElement(); child;
         child = child->NextSiblingElement()) {
        const std::string kind = child->Value();
        if (kind == "Description") {
            scenario.description = textOf(*child);
        } else if (kind == "Server") {
            scenario.servers.push_back(readServer(*child, file));
        } else if (kind == "Installation") {
            readInstallation(*child, scenario, file);
        } else if (kind == "Log") {
            scenario.expectedLog = linesOf(textOf(*child));
        } else if (kind == "Files") {
            scenario.expectedFiles = readExpectedFiles(*child, file);
        } else if (kind == "TransferTimeouts") {
            TransferTimeouts timeouts;
            timeouts.connectSeconds = std::stol(attribute(*child, "connectSeconds", "30"));
            timeouts.lowSpeedSeconds = std::stol(attribute(*child, "lowSpeedSeconds", "60"));
            scenario.transferTimeouts = timeouts;
        } else {
            throw ScenarioError(file, "unknown element <" + kind + ">");
        }
    }
    if (scenario.installedVersion.empty()) throw ScenarioError(file, "no <Installation>");
    if (scenario.expectedLog.empty()) throw ScenarioError(file, "no <Log>");
    return scenario;
}

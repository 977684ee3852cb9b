#include "mirrors/report_output.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string sizeText(long long bytes) {
    if (bytes < 0) return "size unknown";
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    return fixed(value, 1) + " " + units[unit];
}

std::string throughputText(const PackageCheck& package) {
    if (package.seconds <= 0 || package.bytes < 0) return std::string();
    return sizeText(static_cast<long long>(package.bytes / package.seconds)) + "/s";
}

std::string packageText(const PackageCheck* package, bool full) {
    if (!package) return "-";
    if (!package->problem.empty()) return "unusable";
    std::string text = sizeText(package->bytes);
    if (full) text += " at " + throughputText(*package);
    return text;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string paddedLeft(const std::string& text, std::size_t width) {
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

void countClasses(const MirrorReport& report, std::size_t counts[4]) {
    std::fill(counts, counts + 4, 0);
    for (const MirrorResult& mirror : report.mirrors) {
        ++counts[static_cast<int>(mirror.verdict.mirrorClass)];
    }
}

const MirrorClass allClasses[] = {MirrorClass::Current, MirrorClass::Stale, MirrorClass::Different,
                                  MirrorClass::Broken};

void writeMainLines(const MirrorReport& report, std::ostream& out) {
    out << "Main server " << report.mainManifestUrl << " offers " << report.mainVersion << " ("
        << fixed(report.mainSeconds, 2) << " s)\n";
    if (const PackageCheck* package = report.mainPackage) {
        out << "  package " << package->url << ": "
            << (package->problem.empty() ? packageText(package, report.full) : package->problem);
        if (report.full && package->problem.empty()) out << ", SHA-1 " << package->sha1;
        out << "\n";
    }
    if (!report.main.listVersion.empty())
        out << "  server list " << report.main.listVersion << "\n";
    out << "\n";
}

std::string jsonText(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string jsonPackage(const PackageCheck* package, bool full) {
    if (!package) return "null";
    std::string json = "{\"url\": " + jsonText(package->url);
    json += ", \"problem\": " + (package->problem.empty() ? "null" : jsonText(package->problem));
    json += ", \"bytes\": " + (package->bytes < 0 ? "null" : std::to_string(package->bytes));
    json += ", \"seconds\": " + fixed(package->seconds, 3);
    if (full && package->problem.empty()) {
        json += ", \"sha1\": " + jsonText(package->sha1);
        json += ", \"bytesPerSecond\": " +
                (package->seconds > 0 ? fixed(package->bytes / package->seconds, 0) : "null");
    }
    return json + "}";
}

}  // namespace

void writeTable(const MirrorReport& report, std::ostream& out) {
    writeMainLines(report, out);
    std::size_t urlWidth = 6;
    std::size_t packageWidth = 7;
    for (const MirrorResult& mirror : report.mirrors) {
        urlWidth = std::max(urlWidth, mirror.manifestUrl.size());
        packageWidth = std::max(packageWidth, packageText(mirror.package, report.full).size());
    }
    out << padded("CLASS", 10) << paddedLeft("TIME", 8) << "  " << padded("MIRROR", urlWidth)
        << "  " << padded("PACKAGE", packageWidth) << "  REASON\n";
    for (const MirrorResult& mirror : report.mirrors) {
        std::string line = padded(mirrorClassName(mirror.verdict.mirrorClass), 10) +
                           paddedLeft(fixed(mirror.seconds, 2) + " s", 8) + "  " +
                           padded(mirror.manifestUrl, urlWidth) + "  " +
                           padded(packageText(mirror.package, report.full), packageWidth) + "  " +
                           mirror.verdict.reason;
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << "\n";
    }
    std::size_t counts[4];
    countClasses(report, counts);
    out << "\n" << report.mirrors.size() << (report.mirrors.size() == 1 ? " mirror" : " mirrors");
    const char* separator = ": ";
    for (MirrorClass mirrorClass : allClasses) {
        out << separator << counts[static_cast<int>(mirrorClass)] << " "
            << mirrorClassName(mirrorClass);
        separator = ", ";
    }
    out << "\n";
}

void writeJson(const MirrorReport& report, std::ostream& out) {
    const ManifestValues& main = report.main;
    out << "{\"main\": {\"manifest\": " << jsonText(report.mainManifestUrl)
        << ", \"version\": " << jsonText(report.mainVersion)
        << ", \"codebase\": " << jsonText(main.codebase) << ", \"hash\": " << jsonText(main.hash)
        << ", \"listversion\": " << jsonText(main.listVersion)
        << ", \"listhash\": " << jsonText(main.listHash)
        << ", \"seconds\": " << fixed(report.mainSeconds, 3)
        << ", \"package\": " << jsonPackage(report.mainPackage, report.full) << "},\n";
    out << " \"mirrors\": [";
    const char* separator = "\n";
    for (const MirrorResult& mirror : report.mirrors) {
        out << separator << "  {\"manifest\": " << jsonText(mirror.manifestUrl)
            << ", \"class\": " << jsonText(mirrorClassName(mirror.verdict.mirrorClass))
            << ", \"reason\": " << jsonText(mirror.verdict.reason)
            << ", \"seconds\": " << fixed(mirror.seconds, 3)
            << ", \"version\": " << jsonText(mirror.offeredVersion)
            << ", \"package\": " << jsonPackage(mirror.package, report.full) << "}";
        separator = ",\n";
    }
    std::size_t counts[4];
    countClasses(report, counts);
    out << "],\n \"counts\": {";
    separator = "";
    for (MirrorClass mirrorClass : allClasses) {
        out << separator << jsonText(mirrorClassName(mirrorClass)) << ": "
            << counts[static_cast<int>(mirrorClass)];
        separator = ", ";
    }
    out << "}}\n";
}

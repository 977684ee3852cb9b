// pelorin-publish on real packages: what it refuses, with which one line, leaving no manifest,
// no signature and no unpacked files behind; what a signed manifest carries.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "e2e/sample_packages.h"
#include "support/installation.h"
#include "transfer/file_hash.h"
#include "update/release_signature.h"

TEST(PublishCommand, RefusesWhatNoUpdaterCouldInstall) {
    const TempDir work;
    const std::string good = samplePackage("1.1"), notes = work.path() + "/notes.txt";
    const std::string cut = work.path() + "/cut.msi", tmp = work.path() + "/tmp";
    const std::string manifest = work.path() + "/UpdateWin.xml";
    std::ofstream(notes) << "Pelorin 1.1 release notes\n";
    std::ofstream(cut, std::ios::binary) << readFile(good).substr(0, readFile(good).size() / 2);
    std::filesystem::create_directory(tmp);
    const std::string mixed = "Version = 1.1\nhttps://a/\nhttp://b.example/\nsftp://c\n";
    const std::string key = work.path() + "/release.pem", previous = work.path() + "/prev.sig";
    ASSERT_EQ(std::system((PELORIN_PUBLISH_EXE " keygen " + key + " >/dev/null").c_str()), 0);
    std::ofstream(previous) << "serial 3\nexpires 2030-01-01T00:00:00Z\nsignature "
                            << std::string(128, '0') << "\n";
    const std::string sign = " --sign " + key + " --expires 30 --serial ";
    const std::string again = " --same-release --previous-signature " + manifest + ".sig";
    const auto sha256sum = [&](const std::string& path) {
        EXPECT_EQ(std::system(("sha256sum " + path + " >" + work.path() + "/sum").c_str()), 0);
        return readFile(work.path() + "/sum").substr(0, 64);
    };
    const std::string cases[][3] = {
        // what follows --package, the server list (none when empty), part of the refusal or note
        {good, "", ""},
        {notes, "", "the package is no installer package"},
        {cut, "", "does not unpack (status 1): it is cut"},
        {samplePackage("1.1", "--no-program-tree"), "", "no program files/Halvorne/Pelorin tree"},
        {samplePackage("1.1", "--no-version-file"), "", "no Application/UpdatePelorin.xml"},
        {samplePackage("1.1", "--version-file-says 1.0"), "",
         "UpdatePelorin.xml says version 1.0, but --version is 1.1: every installation would be "
         "offered the package again"},
        {good, "Version = 1.1\nhttps://a.example/\n  https://b.example/m.xml\n", ""},
        {good, "Version = 1.0\nhttps://a/\n", "says Version = 1.0, but --list-version is 1.1"},
        {good, "Version = 1.1\nHTTPS://a/\n", "names no server"},
        {good, mixed,
         "2 server(s) without https, such as the manifest at http://b.example/Win/UpdateWin.xml"},
        {good + " --allow-unauthenticated-mirrors", mixed, ""},
        {good + sign + "4 --previous-signature " + previous, mixed, ""},  // content authenticated
        {good + sign + "4" + again, mixed, ""},  // the same manifest signed again
        {good + sign + "4" + again, "Version = 1.1\nhttps://a/\n",
         "--same-release: the manifest is not the one"},
        {good + sign + "3 --previous-signature " + previous, "",
         "serial 3 is not above the previous signature's serial 3"},
        {good + sign + "2 --previous-signature " + previous, "",
         "serial 2 is not above the previous signature's serial 3"},
        {good + sign + "4 --same-release --previous-signature " + previous, "",
         "--same-release signs the previous serial 3 again, not 4"},
        {good + " --delta-from " + samplePackage("1.0"), "", ""},
        {good + " --delta-from " + samplePackage("1.2"), "", "holds version 1.2, not one below"},
        {good + sign + "4", mixed,
         "note: no --previous-signature: nothing checks serial 4 against an earlier release"}};
    for (const auto& [package, list, refusal] : cases) {
        SCOPED_TRACE(package + " " + list);
        std::string command = "TMPDIR=" + tmp + " " PELORIN_PUBLISH_EXE " --version 1.1 --url " +
                              "https://a/P.msi --output " + manifest + " --package " + package;
        if (!list.empty()) {
            std::ofstream(work.path() + "/ServerList.lst", std::ios::binary) << list;
            command += " --list " + work.path() + "/ServerList.lst --list-version 1.1 " +
                       "--list-url https://a/ServerList.lst";
        }
        const std::string signatureBefore = readFile(manifest + ".sig");
        const int status = std::system((command + " 2>" + work.path() + "/err").c_str());
        const std::string err = readFile(work.path() + "/err"), text = readFile(manifest);
        const bool refused = !refusal.empty() && refusal.rfind("note: ", 0) != 0;
        EXPECT_EQ(WEXITSTATUS(status), refused ? 1 : 0);
        EXPECT_EQ(err.rfind("pelorin-publish: ", 0), refusal.empty() ? std::string::npos : 0);
        EXPECT_EQ(err.find('\n'), refusal.empty() ? std::string::npos : err.size() - 1);
        EXPECT_NE(err.find(refusal), std::string::npos) << err;
        const bool signs = package.find(" --sign ") != std::string::npos;
        EXPECT_TRUE(!refused || readFile(manifest + ".sig") == signatureBefore);  // nothing written
        EXPECT_TRUE(signs || text.find("256>") == text.npos) << text;  // unsigned: no SHA-256s
        if (signs && !refused) {
            EXPECT_NE(text.find("</Hash>\n    <Sha256>" + sha256sum(good) + "</Sha256>\n"),
                      text.npos);
            EXPECT_NE(text.find("</Listhash>\n    <Listsha256>" +
                                sha256sum(work.path() + "/ServerList.lst") + "</Listsha256>\n"),
                      text.npos);
            ReleaseSignature signature;  // as an updater built with the new key reads it
            ASSERT_TRUE(parseReleaseSignature(readFile(manifest + ".sig"), signature));
            EXPECT_EQ(signature.serial, 4u);
            EXPECT_TRUE(verifyEd25519(readFile(key + ".pub").substr(0, 64),
                                      releaseMessage(text, 4, signature.expires),
                                      signature.signatureHex));
            EXPECT_EQ(std::filesystem::status(key).permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        }
        const std::string delta = good.substr(0, good.rfind('.')) + "-from-1.0.delta";
        if (package.find("--delta-from") != package.npos && !refused) {
            EXPECT_NE(text.find("<Delta from=\"1.0\" size=\"" +
                                std::to_string(std::filesystem::file_size(delta)) + "\" hash=\"" +
                                hashFileToHex(delta) + "\" sha256=\"" + sha256sum(delta) +
                                "\">https://a/" + delta.substr(delta.rfind('/') + 1) + "</Delta>"),
                      text.npos)
                << text;
        }
        EXPECT_EQ(std::filesystem::remove(manifest), !refused);
        EXPECT_TRUE(std::filesystem::is_empty(tmp));  // the unpacked package is gone
    }
}

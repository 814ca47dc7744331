/* mqaccess_load_test.cpp -- loading the MQ library at run time, from the
 * small libraries of mqaccess_fakelib.cpp (FAKEMQ_DIR/<variant>/<libdir>). */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "mq/mqload.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

/* An empty value removes the variable. */
void SetEnv(const char *name, const std::string &value) {
    PLSetEnv(name, value.empty() ? nullptr : value.c_str());
}

std::string Variant(const char *variant) {
    return std::string(FAKEMQ_DIR) + PL_PATH_SEPARATOR + variant;
}

std::string LibDir(const char *variant) {
    return Variant(variant) + PL_PATH_SEPARATOR + PL_MQ_INSTALL_LIBDIR;
}

/* What fn writes to standard output (the loader's debug lines). */
std::string Printed(const std::function<void()> &fn) {
    testing::internal::CaptureStdout();
    fn();
    return testing::internal::GetCapturedStdout();
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        UnloadMQLibrary();
        SetEnv("MQM_DLL_PATH", "");
        SetEnv("MQ_INSTALLATION_PATH", "");
        SetEnv("MQACCESS_DEBUG", "");
    }
    void TearDown() override { UnloadMQLibrary(); }
    PLLIBRARY lib = nullptr;
};

TEST_F(Loader, FillsRequiredVerbsAndStubsTheMissingOptionalOnes) {
    SetEnv("MQM_DLL_PATH", LibDir("full"));
    ASSERT_EQ(LoadMQLibrary(&MQEntryPoints), 0);
    MQHCONN hConn = 0;
    MQLONG cc = -1, rc = -1;
    MQEntryPoints.MQCONN(nullptr, &hConn, &cc, &rc);
    EXPECT_EQ(hConn, 4711);
    EXPECT_EQ(cc, MQCC_OK);

    /* Each stub fails with 2298, writing only its last two parameters. */
    auto unsupported = [&](const std::function<void()> &call) {
        cc = rc = 0;
        call();
        return cc == MQCC_FAILED && rc == MQRC_FUNCTION_NOT_SUPPORTED;
    };
    EXPECT_TRUE(unsupported(
        [&] { MQEntryPoints.MQCB(hConn, MQOP_REGISTER, nullptr, 0, nullptr, nullptr, &cc, &rc); }));
    EXPECT_TRUE(unsupported([&] { MQEntryPoints.MQCTL(hConn, MQOP_START, nullptr, &cc, &rc); }));
    EXPECT_TRUE(unsupported([&] { MQEntryPoints.MQCONNX(nullptr, nullptr, nullptr, &cc, &rc); }));
    EXPECT_TRUE(
        unsupported([&] { MQEntryPoints.MQSUB(hConn, nullptr, nullptr, nullptr, &cc, &rc); }));
    EXPECT_TRUE(unsupported(
        [&] { MQEntryPoints.MQBUFMH(hConn, 0, nullptr, nullptr, 0, nullptr, nullptr, &cc, &rc); }));
    EXPECT_TRUE(unsupported([&] {
        MQEntryPoints.MQSETMP(hConn, 0, nullptr, nullptr, nullptr, 0, 0, nullptr, &cc, &rc);
    }));
    EXPECT_TRUE(unsupported(
        [&] { MQEntryPoints.MQXCNVC(hConn, 0, 0, 0, nullptr, 0, 0, nullptr, nullptr, &cc, &rc); }));
    EXPECT_EQ(LoadMQLibrary(&MQEntryPoints), 0); /* loaded once: a second call keeps it */
}

TEST_F(Loader, AMissingRequiredVerbFailsWith11) {
    SetEnv("MQM_DLL_PATH", LibDir("noopen"));
    EXPECT_EQ(LoadMQLibrary(&MQEntryPoints), MQLOAD_MISSING_VERB);
    EXPECT_EQ(MQEntryPoints.MQCONN, nullptr);
    /* Without MQCLOSE the optional verbs are still filled in. */
    UnloadMQLibrary();
    SetEnv("MQM_DLL_PATH", LibDir("noclose"));
    EXPECT_EQ(LoadMQLibrary(&MQEntryPoints), MQLOAD_MISSING_VERB);
    EXPECT_EQ(MQEntryPoints.MQCLOSE, nullptr);
    EXPECT_NE(MQEntryPoints.MQCB, nullptr);
    EXPECT_NE(MQEntryPoints.MQOPEN, nullptr);
}

TEST_F(Loader, SaysWhereItLooksWithMqaccessDebugAndWhyALoadFailed) {
    SetEnv("MQ_INSTALLATION_PATH", Variant("full")); /* no MQM_DLL_PATH: its library directory */
    SetEnv("MQACCESS_DEBUG", "1");
    int rc = -1;
    EXPECT_EQ(Printed([&] { rc = LoadMQLibrary(&MQEntryPoints); }),
              "Loading '" + LibDir("full") + PL_PATH_SEPARATOR + PL_MQ_SERVER_LIBRARY + "'\n");
    EXPECT_EQ(rc, 0);

    UnloadMQLibrary();
    SetEnv("MQM_DLL_PATH", Variant("nowhere"));
    std::string out = Printed([&] { rc = LoadMQLibrary(&MQEntryPoints); });
    EXPECT_NE(rc, 0);
    EXPECT_NE(rc, MQLOAD_MISSING_VERB);
    EXPECT_NE(out.find("Loading '" + Variant("nowhere") + PL_PATH_SEPARATOR), std::string::npos);
    EXPECT_NE(out.find("Load failed RC(" + std::to_string(rc) + ") "), std::string::npos);
    SetEnv("MQACCESS_DEBUG", ""); /* without it nothing is written */
    EXPECT_EQ(Printed([&] { EXPECT_EQ(LoadMQLibrary(&MQEntryPoints), rc); }), "");
}

TEST_F(Loader, JoinsDirectoryAndNameWithOneSeparator) {
    SetEnv("MQACCESS_DEBUG", "1");
    std::string dir = LibDir("full"), name = PL_MQ_SERVER_LIBRARY;
    std::string full = dir + PL_PATH_SEPARATOR + name;
    /* a directory ending in a separator; a name with one is used as it is */
    for (const auto &c : {std::make_pair(name, dir + PL_PATH_SEPARATOR),
                          std::make_pair(full, std::string("/some/where/else"))}) {
        EXPECT_EQ(Printed([&] {
                      EXPECT_EQ(LoadLibraryFromPath(c.first.c_str(), c.second.c_str(), &lib), 0);
                  }),
                  "Loading '" + full + "'\n");
        PLCloseLibrary(lib);
    }
}

TEST_F(Loader, RefusesPathsThatDoNotFit) {
    std::string longDir(MQLOAD_PATH_SIZE, 'd');
    EXPECT_EQ(LoadLibraryFromPath("libmqm_r.so", longDir.c_str(), &lib), MQLOAD_PATH_TOO_LONG);
    /* A path that fits is handed to the system (which on Windows may
     * itself refuse so long a name, with the same code). */
    std::string fits(MQLOAD_PATH_SIZE - 1 - 1 - 4, 'd');
    SetEnv("MQACCESS_DEBUG", "1");
    EXPECT_EQ(Printed([&] {
                  EXPECT_NE(LoadLibraryFromPath("x.so", fits.c_str(), &lib), 0);
              }).rfind("Loading '", 0),
              0u);
    SetEnv("MQACCESS_DEBUG", "");
    std::string tooLong(MQLOAD_PATH_SIZE - 1 - 4, 'd');
    EXPECT_EQ(LoadLibraryFromPath("x.so", tooLong.c_str(), &lib), MQLOAD_PATH_TOO_LONG);
    std::string longName(MQLOAD_PATH_SIZE, 'n');
    EXPECT_EQ(LoadLibraryFromPath(longName.c_str(), "", &lib), MQLOAD_PATH_TOO_LONG);

    SetEnv("MQ_INSTALLATION_PATH", std::string(MQLOAD_DIR_SIZE, 'i'));
    EXPECT_EQ(LoadMQLibrary(&MQEntryPoints), MQLOAD_PATH_TOO_LONG);
    SetEnv("MQ_INSTALLATION_PATH", "");
    SetEnv("MQM_DLL_PATH", std::string(MQLOAD_DIR_SIZE + 10, 'm'));
    EXPECT_EQ(LoadMQLibrary(&MQEntryPoints), MQLOAD_PATH_TOO_LONG);
}

TEST(GetEntryPoint, FindsVerbsAndRefusesOverlongNames) {
    PLLIBRARY lib = nullptr;
    std::string dir = LibDir("full");
    ASSERT_EQ(LoadLibraryFromPath(PL_MQ_SERVER_LIBRARY, dir.c_str(), &lib), 0);
    EXPECT_NE(GetEntryPoint(lib, "MQCONN"), nullptr);
    EXPECT_EQ(GetEntryPoint(lib, std::string(99, 'X').c_str()), nullptr);
    EXPECT_EQ(GetEntryPoint(lib, ("MQCONN" + std::string(200, ' ')).c_str()), nullptr);
    PLCloseLibrary(lib);
}

} /* namespace */

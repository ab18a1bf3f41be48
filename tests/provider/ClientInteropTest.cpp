// The project's own CIM client against the real kest-provider process: the
// requests the program makes, over the Unix-domain socket and over HTTPS.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <thread>

#include "cim/Client.h"
#include "cim/Exception.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* kAddress = "127.0.0.23";

// kest-provider on a socket and HTTPS in a fresh directory, for the whole suite.
class ProviderProcess {
public:
    ProviderProcess() {
        dir_ = fs::temp_directory_path() / ("kest-client-test-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        socket_ = (dir_ / "cimxml.socket").string();
        const std::string ready = (dir_ / "ready").string();
        std::vector<std::string> args = {KEST_PROVIDER, "--schema", std::string(KEST_TEST_DATA) + "/schema.json",
                                         "--socket", socket_, "--log", (dir_ / "log").string(),
                                         "--ready-file", ready, "--https", std::string(kAddress) + ":0",
                                         "--write-cert", cert(), std::string(KEST_TEST_DATA) + "/complex.json"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
        for (int i = 0; i < 2000 && pid_ > 0 && !fs::exists(ready); ++i) std::this_thread::sleep_for(10ms);
        std::ifstream in(ready);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("https ", 0) == 0) port_ = std::stoul(line.substr(line.rfind(':') + 1));
    }
    ~ProviderProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }
    bool ready() const { return port_ != 0; }
    const std::string& socket() const { return socket_; }
    std::string cert() const { return (dir_ / "cert.pem").string(); }
    cim::Uint32 port() const { return port_; }
    std::string logText() const {
        std::ifstream in(dir_ / "log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    fs::path dir_;
    std::string socket_;
    pid_t pid_ = -1;
    cim::Uint32 port_ = 0;
};

class ClientInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        provider_ = new ProviderProcess();
        ::setenv("XK_CIM_SOCKET", provider_->socket().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete provider_;
        provider_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(provider_->ready());
        client_.setTimeout(20000);
        client_.connectLocal();
    }
    static ProviderProcess* provider_;
    cim::CIMClient client_;
    const cim::CIMNamespaceName ns_{"root/cimv2/kest"};
};
ProviderProcess* ClientInterop::provider_ = nullptr;

cim::CIMValue valueOf(const cim::CIMInstance& i, const char* name) {
    cim::Uint32 k = i.findProperty(name);
    return k == cim::PEG_NOT_FOUND ? cim::CIMValue() : i.getProperty(k).getValue();
}

TEST_F(ClientInterop, EnumerateAndGetInstancesAsTheReportsDo) {
    EXPECT_EQ(client_.enumerateInstanceNames(ns_, "XK_KestComplex").size(), 1u);
    auto cells = client_.enumerateInstances(ns_, "XK_KestCell", false, false, true, false);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(valueOf(cells[0], "CPUSpeed"), cim::CIMValue(cim::Uint32(1600)));
    EXPECT_TRUE(valueOf(cells[1], "CPUSpeed").isNull());
    EXPECT_EQ(valueOf(cells[2], "errorCode"), cim::CIMValue(cim::Uint32(22)));
    const cim::CIMObjectPath path("", ns_, "XK_KestPartition", {cim::CIMKeyBinding("PartitionID", "1", cim::CIMKeyBinding::NUMERIC)});
    auto partition = client_.getInstance(ns_, path);
    EXPECT_EQ(valueOf(partition, "PartitionName"), cim::CIMValue("beta <&> \"quoted\""));
}

TEST_F(ClientInterop, ValueMapThroughGetClass) {
    cim::CIMClass c = client_.getClass(ns_, "XK_KestCell", false, true);
    const auto& p = c.getProperty(c.findProperty("Cellarchitecture"));
    cim::Array<cim::String> texts;
    p.getQualifier(p.findQualifier("ValueMap")).getValue().get(texts);
    EXPECT_EQ(texts, (cim::Array<cim::String>{"Unknown", "VX_ARCH", "WX_ARCH"}));
}

TEST_F(ClientInterop, MakeIdOnTheFirstInstanceName) {
    auto names = client_.enumerateInstanceNames(ns_, "XK_KestIOChassisSlot");
    ASSERT_FALSE(names.empty());
    cim::Array<cim::CIMParamValue> out;
    cim::CIMValue id = client_.invokeMethod(
        ns_, names[0], "MakeID",
        {cim::CIMParamValue("CabinetID", cim::Uint8(8)), cim::CIMParamValue("BayNumber", cim::Uint8(1)),
         cim::CIMParamValue("SlotNumber", cim::Uint8(3))},
        out);
    cim::Uint32 n = 0;
    id.get(n);
    EXPECT_EQ(n, 35u);
}

struct ErrorCase {
    const char* name;
    std::function<void(cim::CIMClient&)> call;
    cim::Uint32 code;
    const char* inMessage;
};

TEST_F(ClientInterop, ErrorsArriveAsCimExceptions) {
    const cim::CIMNamespaceName ns("root/cimv2/kest");
    const ErrorCase cases[] = {
        {"unknown namespace", [](cim::CIMClient& c) { c.enumerateInstanceNames("root/none", "XK_KestCellSlot"); }, 3, ""},
        {"unknown class", [&](cim::CIMClient& c) { c.enumerateInstances(ns, "XK_KestNope"); }, 5, ""},
        {"missing instance",
         [&](cim::CIMClient& c) {
             c.getInstance(ns, cim::CIMObjectPath("", ns, "XK_KestCellSlot", {cim::CIMKeyBinding("ID", "255", cim::CIMKeyBinding::NUMERIC)}));
         },
         6, "@16:"},
        {"unknown position",
         [&](cim::CIMClient& c) {
             cim::Array<cim::CIMParamValue> out;
             c.invokeMethod(ns, cim::CIMObjectPath("XK_KestCellSlot.ID=0"), "MakeID",
                            {cim::CIMParamValue("CabinetID", cim::Uint8(44)), cim::CIMParamValue("SlotNumber", cim::Uint8(0))}, out);
         },
         6, "@17:"},
        {"wrong IPMI password",
         [&](cim::CIMClient& c) {
             cim::CIMInstance i("XK_KestRemoteComplex");
             i.addProperty(cim::CIMProperty("Address", cim::CIMValue("10.1.1.1")));
             i.addProperty(cim::CIMProperty("Password", cim::CIMValue("nope")));
             c.createInstance(ns, i);
         },
         2, "@11:"},
    };
    for (const auto& c : cases) {
        try {
            c.call(client_);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const cim::CIMException& e) {
            EXPECT_EQ(e.getCode(), c.code) << c.name << ": " << e.getMessage();
            EXPECT_NE(e.getMessage().find(c.inMessage), std::string::npos) << c.name << ": " << e.getMessage();
        }
    }
}

TEST_F(ClientInterop, RemoteComplexThroughTheMp) {
    cim::CIMInstance i("XK_KestRemoteComplex");
    i.addProperty(cim::CIMProperty("Address", cim::CIMValue("10.1.1.1")));
    i.addProperty(cim::CIMProperty("Password", cim::CIMValue("ipmi-secret")));
    i.setPath(cim::CIMObjectPath("XK_KestRemoteComplex.Address=\"10.1.1.1\""));
    cim::CIMObjectPath created = client_.createInstance(ns_, i);
    cim::Array<cim::CIMParamValue> out;
    cim::CIMValue name = client_.invokeMethod(ns_, created, "NameSpaceName", {}, out);
    cim::String remote;
    name.get(remote);
    ASSERT_EQ(remote, "root/cimv2/kest/mp1");
    auto complexes = client_.enumerateInstances(remote, "XK_KestComplex");
    ASSERT_EQ(complexes.size(), 1u);
    EXPECT_EQ(valueOf(complexes[0], "ComplexName"), cim::CIMValue("remoteplex"));
    client_.deleteInstance(remote, created);
    EXPECT_THROW(client_.enumerateInstances(remote, "XK_KestComplex"), cim::CIMException);
    const std::string log = provider_->logText();
    EXPECT_NE(log.find(R"("op":"DeleteInstance","ns":"root/cimv2/kest/mp1","class":"XK_KestRemoteComplex","key":"10.1.1.1")"),
              std::string::npos)
        << log;
}

TEST_F(ClientInterop, HttpsWithBasicAuthentication) {
    cim::CIMClient remote;
    remote.setTimeout(20000);
    const cim::SSLContext trusted(provider_->cert(), nullptr);
    remote.connect(kAddress, provider_->port(), trusted, "admin", "secret");
    EXPECT_EQ(remote.enumerateInstanceNames("root/cimv2/kest", "XK_KestCellSlot").size(), 4u);
    remote.disconnect();

    cim::CIMClient rejected;
    rejected.setTimeout(20000);
    try {
        rejected.connect(kAddress, provider_->port(), trusted, "admin", "wrong");
        rejected.enumerateInstanceNames("root/cimv2/kest", "XK_KestCellSlot");
        ADD_FAILURE() << "wrong password accepted";
    } catch (const cim::Exception& e) {
        EXPECT_NE(e.getMessage().find("Unauthorized"), std::string::npos) << e.getMessage();
    }
}

}  // namespace

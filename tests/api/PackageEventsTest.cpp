// Events posted over HTTPS to the service on loopback (which stores them and
// reads them back) and to a misbehaving peer that answers with a chosen status.
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <chrono>
#include <thread>

#include "api/Package.h"
#include "api/Transport.h"
#include "common/TestEnvironment.h"
#include "config/ConfigurationManager.h"
#include "util/Handles.h"
#include "util/Images.h"

using nlohmann::json;

namespace {

SignedRequest Request() { return BuildSignedRequest(*GetConfiguration()); }
PackageEnvironment Environment() { return EnvironmentFromConfiguration(GetConfiguration()); }

// Unique per run and prefix, so stored events of other runs never match.
std::string UniqueId(const std::string& what) {
    return what + "-" + testenv::Config() + "-" + GetConfiguration()->GetTimestamp() + "-" +
           std::to_string(::GetTickCount());
}

json OfferElement(const std::string& offerId) {
    return json{{"ad", {{"o", offerId}, {"f", "feed-7"}}},
                {"ps", {{"i", "images/notes.png"}, {"dn", "Notes"}, {"u", "https://localhost/f/x.exe"}, {"c", "notes"}}}};
}

// What the service stored for an offer id in this run, in arrival order.
json StoredEvents(const std::string& offerId) {
    std::string response;
    int32_t status = 0;
    const std::string run = GetConfiguration()->GetTimestamp();
    const std::wstring path = L"/events?offer=" + std::wstring(offerId.begin(), offerId.end()) + L"&run=" +
                              std::wstring(run.begin(), run.end());
    if (!PostJsonToHost(L"localhost", path, "{}", {}, response, status) || status != 200) {
        ADD_FAILURE() << "read-back answered " << status << ": " << response;
        return json::array();
    }
    return json::parse(response);
}

// Requests the peer recorded so far.
json PeerLog() {
    std::string response;
    int32_t status = 0;
    const std::string peer = testenv::Get("TAMSEL_TEST_PEER");
    if (!PostJsonToHost(std::wstring(peer.begin(), peer.end()), L"/log", "{}", {}, response, status) || status != 200)
        return json::array();
    return json::parse(response);
}

std::vector<std::string> KeysInTextOrder(const std::string& data) {
    std::vector<std::string> keys;
    const auto document = nlohmann::ordered_json::parse(data);
    for (const auto& item : document.items()) keys.push_back(item.key());
    return keys;
}

}  // namespace

TEST(PackageEventsOverHttps, OfferAndMainProductEventsAreStoredAsSent) {
    const auto config = GetConfiguration();
    const std::string offerId = UniqueId("notes");
    SignedRequest request = Request();
    auto offer = Package::CreateOffer(request, OfferElement(offerId), "", 1, Environment());
    offer->SendEvent(2, json{{"13", "FILE EXISTS"}});
    offer->WaitForEvents();
    EXPECT_TRUE(offer->EventsClosed());

    const json stored = StoredEvents(offerId);
    ASSERT_EQ(stored.size(), 1u) << stored.dump();
    EXPECT_EQ(stored[0]["code"], 2);
    EXPECT_EQ(stored[0]["reason"], "FILE EXISTS");
    const std::string data = stored[0]["data"];
    // Keys "0" to "22", "31" and "38", serialised in the order of their text.
    const std::vector<std::string> order{"0",  "1",  "10", "11", "12", "13", "14", "15", "16",
                                         "17", "18", "19", "2",  "20", "21", "22", "3",  "31",
                                         "38", "4",  "5",  "6",  "7",  "8",  "9"};
    EXPECT_EQ(KeysInTextOrder(data), order);
    const json body = json::parse(data);
    EXPECT_EQ(body["6"], "2");
    EXPECT_EQ(body["5"], offerId);
    EXPECT_EQ(body["10"], 2);
    EXPECT_EQ(body["16"], "notes");
    EXPECT_EQ(body["17"], "2");
    EXPECT_EQ(body["18"], "feed-7");
    EXPECT_EQ(body["13"], "FILE EXISTS");
    EXPECT_EQ(body["1"], config->GetMachineGuid());

    // The main product: started (1) keeps it open, so its download (3) still goes out.
    const std::string title = UniqueId("Product");
    SignedRequest mainRequest = Request();
    mainRequest.body["22"] = title;
    auto main = Package::CreateMain(mainRequest, L"", L"", L"", L"", Environment());
    main->SendEvent(1);
    main->WaitForEvents();
    EXPECT_FALSE(main->EventsClosed());
    main->SendEvent(3);
    main->WaitForEvents();
    EXPECT_TRUE(main->EventsClosed());
    main->SendEvent(5);  // closed: nothing more goes out
    main->WaitForEvents();

    const json mainStored = StoredEvents(title);
    ASSERT_EQ(mainStored.size(), 2u) << mainStored.dump();
    EXPECT_EQ(mainStored[0]["code"], 1);
    EXPECT_EQ(mainStored[1]["code"], 3);
    const json mainBody = json::parse(mainStored[1]["data"].get<std::string>());
    EXPECT_EQ(mainBody["5"], title);
    EXPECT_EQ(mainBody["10"], 1);
    EXPECT_EQ(mainBody["16"], "");
    EXPECT_EQ(mainBody["17"], "");
    EXPECT_EQ(mainBody["18"], "");
}

TEST(PackageEventsOverHttps, DeclinedOfferSendsNothingWhenTheUserQuits) {
    const std::string offerId = UniqueId("declined");
    auto offer = Package::CreateOffer(Request(), OfferElement(offerId), "", 0, Environment());
    offer->SendEvent(4);
    offer->WaitForEvents();
    offer->SendEvent(5);
    offer->WaitForEvents();
    const json stored = StoredEvents(offerId);
    ASSERT_EQ(stored.size(), 1u) << stored.dump();
    EXPECT_EQ(stored[0]["code"], 4);
}

TEST(PackageEventsOverHttps, PackageOutlivesItsWorkers) {
    const std::string offerId = UniqueId("released");
    auto offer = Package::CreateOffer(Request(), OfferElement(offerId), "", 0, Environment());
    std::weak_ptr<Package> watch = offer;
    for (int i = 0; i < 4; ++i) offer->SendEvent(1, json{{"13", "n" + std::to_string(i)}});
    offer.reset();  // the workers alone keep it now
    for (int i = 0; i < 300 && !watch.expired(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(StoredEvents(offerId).size(), 4u);
}

TEST(PackageEventsToAMisbehavingPeer, RefusedEventIsTriedTwiceThenDropped) {
    const std::string peer = testenv::Get("TAMSEL_TEST_PEER");
    if (peer.empty()) GTEST_SKIP() << "run through run-with-peer.sh";
    PackageEnvironment env = Environment();
    env.eventEndpointUrl = L"https://" + std::wstring(peer.begin(), peer.end()) + L"/status/500";
    const std::string offerId = UniqueId("refused");
    auto offer = Package::CreateOffer(Request(), OfferElement(offerId), "", 0, env);
    offer->SendEvent(3);
    offer->WaitForEvents();
    EXPECT_FALSE(offer->EventsClosed());  // a later closing event may still go out

    json attempts = json::array();
    for (const auto& record : PeerLog())
        if (record["body"].get<std::string>().find(offerId) != std::string::npos) attempts.push_back(record);
    ASSERT_EQ(attempts.size(), 2u) << attempts.dump();
    for (const auto& attempt : attempts) {
        EXPECT_EQ(attempt["path"], "/status/500");
        EXPECT_EQ(attempt["authorization"].get<std::string>().rfind("Signature=", 0), 0u);
        const auto document = nlohmann::ordered_json::parse(attempt["body"].get<std::string>());
        ASSERT_EQ(document.size(), 2u);
        EXPECT_EQ(document.begin().key(), "data");
        EXPECT_EQ(document["table"], "zb_analytics");
        EXPECT_EQ(json::parse(document["data"].get<std::string>())["6"], "3");
    }
    // The second attempt waits five seconds after the first was answered; a
    // lower bound, which a slow machine only makes longer.
    EXPECT_GE(attempts[1]["seconds"].get<double>() - attempts[0]["seconds"].get<double>(), 4.95);
}

TEST(PackageEventsToAMisbehavingPeer, WaitingEndsWhenTheServiceIsDown) {
    // Nothing listens on this loopback address: the post fails at once.
    PackageEnvironment env = Environment();
    env.eventEndpointUrl = L"https://127.0.0.3/zbd";
    auto offer = Package::CreateOffer(Request(), OfferElement(UniqueId("down")), "", 0, env);
    offer->SendEvent(5);
    offer->SendEvent(4);
    offer->WaitForEvents();
    EXPECT_FALSE(offer->EventsClosed());
}

TEST(PackageImage, DecodedFromTheFileEndpointOrLeftOut) {
    auto gdiplus = std::make_unique<GdiplusSession>();
    ASSERT_TRUE(gdiplus->Started());
    {
        const struct {
            const char* path;
            bool decoded;
        } cases[] = {{"images/notes.png", true}, {"images/missing.png", false}, {"legal/privacy.html", false}};
        for (const auto& c : cases) {
            json element = OfferElement("image-test");
            element["ps"]["i"] = c.path;
            auto offer = Package::CreateOffer(Request(), element, "", 0, Environment());
            const tamsel::KernelHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
            HANDLE signal = done.Get();
            offer->DownloadImage([signal] { ::SetEvent(signal); });
            ASSERT_EQ(::WaitForSingleObject(done.Get(), 60000), WAIT_OBJECT_0) << c.path;
            EXPECT_EQ(offer->image != nullptr, c.decoded) << c.path;
            offer->ReleaseImage();
        }
        // The main product's image comes with the configuration: done at once.
        auto main = Package::CreateMain(Request(), L"", L"", L"", L"", Environment());
        bool called = false;
        main->DownloadImage([&called] { called = true; });
        EXPECT_TRUE(called);
    }
    gdiplus.reset();
}

// An image that arrives or is freed after GDI+ has shut down is left alone.
TEST(PackageImage, NothingIsDecodedOrFreedThroughGdiplusAfterItsShutDown) {
    auto gdiplus = std::make_unique<GdiplusSession>();
    json element = OfferElement("image-late");
    element["ps"]["i"] = "images/notes.png";
    auto offer = Package::CreateOffer(Request(), element, "", 0, Environment());
    const tamsel::KernelHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE signal = done.Get();
    offer->DownloadImage([signal] { ::SetEvent(signal); });
    ASSERT_EQ(::WaitForSingleObject(done.Get(), 60000), WAIT_OBJECT_0);
    ASSERT_NE(offer->image, nullptr);
    gdiplus.reset();
    offer->ReleaseImage();  // freed after shut-down: must not reach GDI+

    ::ResetEvent(signal);
    offer->DownloadImage([signal] { ::SetEvent(signal); });
    ASSERT_EQ(::WaitForSingleObject(done.Get(), 60000), WAIT_OBJECT_0);
    EXPECT_EQ(offer->image, nullptr);
}

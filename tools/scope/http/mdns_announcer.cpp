#include "http/mdns_announcer.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <cstdio>

namespace rk350::scope {

struct MdnsAnnouncer::State {
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  std::string name;
  int httpPort = 0;
  int scpiPort = 0;
  bool vxi11 = false;

  // Runs on Avahi's thread (or inside avahi_client_new).
  void Register(AvahiClient* c) {
    if (group == nullptr) group = avahi_entry_group_new(c, &State::OnGroup, this);
    if (group == nullptr) return;
    avahi_entry_group_reset(group);
    const auto add = [&](const char* type, int port) {
      return avahi_entry_group_add_service(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                           name.c_str(), type, nullptr, nullptr, static_cast<uint16_t>(port), nullptr);
    };
    int r = add("_http._tcp", httpPort);
    if (r >= 0) r = add("_lxi._tcp", httpPort);  // where GET /lxi/identification answers
    if (r >= 0 && scpiPort > 0) r = add("_scpi-raw._tcp", scpiPort);
    if (r >= 0 && vxi11) r = add("_vxi-11._tcp", 111);
    if (r == AVAHI_ERR_COLLISION) return Rename(c);
    if (r >= 0) r = avahi_entry_group_commit(group);
    if (r < 0) std::fprintf(stderr, "rk350-scope: mDNS: %s\n", avahi_strerror(r));
  }

  // Another host announces this name: take the next one ("… #2").
  void Rename(AvahiClient* c) {
    char* next = avahi_alternative_service_name(name.c_str());
    name = next;
    avahi_free(next);
    std::fprintf(stderr, "rk350-scope: mDNS: the name is taken, announcing as \"%s\"\n", name.c_str());
    Register(c);
  }

  static void OnGroup(AvahiEntryGroup* g, AvahiEntryGroupState state, void* self) {
    auto* s = static_cast<State*>(self);
    if (state == AVAHI_ENTRY_GROUP_COLLISION) s->Rename(avahi_entry_group_get_client(g));
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED)
      std::fprintf(stderr, "rk350-scope: announced as \"%s\" over mDNS\n", s->name.c_str());
  }

  static void OnClient(AvahiClient* c, AvahiClientState state, void* self) {
    auto* s = static_cast<State*>(self);
    if (state == AVAHI_CLIENT_S_RUNNING) s->Register(c);
    if (state == AVAHI_CLIENT_S_COLLISION && s->group != nullptr) avahi_entry_group_reset(s->group);
    if (state == AVAHI_CLIENT_FAILURE)
      std::fprintf(stderr, "rk350-scope: mDNS: %s\n", avahi_strerror(avahi_client_errno(c)));
  }
};

MdnsAnnouncer::MdnsAnnouncer() : state_(std::make_unique<State>()) {}

MdnsAnnouncer::~MdnsAnnouncer() {
  if (state_->poll != nullptr) avahi_threaded_poll_stop(state_->poll);
  if (state_->client != nullptr) avahi_client_free(state_->client);  // frees the group too
  if (state_->poll != nullptr) avahi_threaded_poll_free(state_->poll);
}

bool MdnsAnnouncer::Start(const std::string& name, int httpPort, int scpiPort, bool vxi11, std::string& error) {
  state_->name = name;
  state_->httpPort = httpPort;
  state_->scpiPort = scpiPort;
  state_->vxi11 = vxi11;
  state_->poll = avahi_threaded_poll_new();
  if (state_->poll == nullptr) {
    error = "cannot start Avahi's event loop";
    return false;
  }
  int code = 0;
  state_->client = avahi_client_new(avahi_threaded_poll_get(state_->poll), AvahiClientFlags(0), &State::OnClient,
                                    state_.get(), &code);
  if (state_->client == nullptr) {
    error = std::string("no Avahi daemon answers (") + avahi_strerror(code) + ")";
    return false;
  }
  if (avahi_threaded_poll_start(state_->poll) < 0) {
    error = "cannot start Avahi's event loop";
    return false;
  }
  return true;
}

}  // namespace rk350::scope

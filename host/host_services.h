// What every host of the board has in common, whatever it does with the calls: one object that
// offers the six services a board looks up, and the reading of a device's connector table.
// The reference host, the tests' recording host and the fuzzers' host build on it.
#pragma once

#include <cstdint>

#include "vyx/vyx.h"

class HostServiceSet : public HostSystem,
                       public HostBus,
                       public HostMixer,
                       public HostTimerQueue,
                       public HostPorts,
                       public HostPages {
 public:
  void* VYXCALL FindService(const VyxGuid& id) override {
    if (id == kHostBusId) return Offer("bus", static_cast<HostBus*>(this));
    if (id == kHostMixerId) return Offer("mixer", static_cast<HostMixer*>(this));
    if (id == kHostTimerQueueId) return Offer("timer queue", static_cast<HostTimerQueue*>(this));
    if (id == kHostPortsId) return Offer("ports", static_cast<HostPorts*>(this));
    if (id == kHostPagesId) return Offer("pages", static_cast<HostPages*>(this));
    return OfferOther(id);
  }

 protected:
  ~HostServiceSet() = default;

  // Every lookup of one of the six passes here with the service's name; a host may note the
  // lookup or withhold the service (null).
  virtual void* Offer(const char* /*name*/, void* service) { return service; }
  // A service beyond the six; null when the host has none by that identifier.
  virtual void* OfferOther(const VyxGuid& /*id*/) { return nullptr; }
};

// A connector table ends with an all-zero entry.
inline bool IsConnectorTableEnd(const Connector& c) {
  return c.port == 0 && c.kind == 0 && c.index == 0;
}

// The connector table's entry for a port and a kind, or null when it has none.
inline const Connector* FindConnector(const Connector* table, uint32_t port, uint8_t kind) {
  if (table == nullptr) return nullptr;
  for (const Connector* c = table; !IsConnectorTableEnd(*c); ++c) {
    if (c->port == port && c->kind == kind) return c;
  }
  return nullptr;
}

// The handler that the device's connector table names for a port, or null when none does.
inline VyxOutHandler FindOutHandler(VyxDevice* device, const Connector* table, uint32_t port) {
  const Connector* c = device != nullptr ? FindConnector(table, port, kConnectorOut) : nullptr;
  return c != nullptr ? device->GetDescriptor().out_handlers[c->index] : nullptr;
}

inline VyxInHandler FindInHandler(VyxDevice* device, const Connector* table, uint32_t port) {
  const Connector* c = device != nullptr ? FindConnector(table, port, kConnectorIn) : nullptr;
  return c != nullptr ? device->GetDescriptor().in_handlers[c->index] : nullptr;
}

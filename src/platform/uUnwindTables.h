#pragma once
// The module's own C++ unwinder must know the module's unwind tables, whoever else is loaded.
//
// The 32-bit toolchain unwinds with DWARF tables that the module's start-up code registers at
// load. When MinGW's shared unwinder (libgcc_s_dw2-1.dll) is already in the process (any other
// MinGW-built component of the host may have brought it), the start-up code registers them there
// instead, while our code, linked with its own static unwinder, searches only its own registry:
// the first exception thrown in the module would then end in std::terminate and take the host
// down. One TOwnUnwindTables per module, constructed before any other of its static objects,
// registers the tables with the module's own unwinder where that did not happen, and
// deregisters them at unload. The start-up code keeps and removes its own registration with
// the shared unwinder, so nothing in either registry points into the module once it is gone.
// The 64-bit toolchain unwinds through the system's tables (SEH): there this does nothing.
class TOwnUnwindTables {
public:
  TOwnUnwindTables() noexcept;
  ~TOwnUnwindTables();
  TOwnUnwindTables(const TOwnUnwindTables&) = delete;
  TOwnUnwindTables& operator=(const TOwnUnwindTables&) = delete;

  // Whether this object registered the tables (the shared unwinder had taken them).
  bool Registered() const noexcept { return FBegin != nullptr; }

private:
  const void* FBegin = nullptr;
  // The unwinder's bookkeeping of one registration (its `struct object`), room to spare.
  alignas(8) void* FObject[16] = {};
};

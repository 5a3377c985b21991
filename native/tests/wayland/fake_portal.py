#!/usr/bin/python3
"""A stand-in for the desktop portal on a private session bus.

Serves org.freedesktop.portal.GlobalShortcuts and RemoteDesktop as their
published interface descriptions define them (methods answer through a
Request object's Response signal; sessions are objects with Close and a
Closed signal), plus org.keymux.TestPortal at /org/keymux/test, through
which a test plays the user and the compositor.
"""
import sys

from gi.repository import Gio, GLib

DESKTOP = "/org/freedesktop/portal/desktop"
GS = "org.freedesktop.portal.GlobalShortcuts"
RD = "org.freedesktop.portal.RemoteDesktop"
TEST = "org.keymux.TestPortal"
IMPL = "org.freedesktop.impl.portal."
DEFER = object()  # a method answered later (a dialog still open)

XML = """
<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
      <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="ListShortcuts"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
    <signal name="Deactivated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.RemoteDesktop">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="SelectDevices"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="NotifyKeyboardKeycode"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="i" direction="in"/><arg type="u" direction="in"/></method>
    <property name="version" type="u" access="read"/>
    <property name="AvailableDeviceTypes" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.Request">
    <method name="Close"/>
    <signal name="Response"><arg type="u"/><arg type="a{sv}"/></signal>
  </interface>
  <interface name="org.freedesktop.portal.Session">
    <method name="Close"/>
    <signal name="Closed"><arg type="a{sv}"/></signal>
  </interface>
  <interface name="org.freedesktop.impl.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="o" direction="in"/><arg type="o" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
    <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
      <arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
    <method name="ListShortcuts"><arg type="o" direction="in"/><arg type="o" direction="in"/>
      <arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
    <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
    <signal name="Deactivated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.RemoteDesktop">
    <method name="CreateSession"><arg type="o" direction="in"/><arg type="o" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
    <method name="SelectDevices"><arg type="o" direction="in"/><arg type="o" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="u" direction="out"/><arg type="a{sv}" direction="out"/></method>
    <method name="Start"><arg type="o" direction="in"/><arg type="o" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="u" direction="out"/>
      <arg type="a{sv}" direction="out"/></method>
    <method name="NotifyKeyboardKeycode"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="i" direction="in"/><arg type="u" direction="in"/></method>
    <property name="version" type="u" access="read"/>
    <property name="AvailableDeviceTypes" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.impl.portal.Session">
    <method name="Close"/>
    <signal name="Closed"/>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.keymux.TestPortal">
    <method name="SetBindResponse"><arg type="u" direction="in"/></method>
    <method name="DeclineTrigger"><arg type="s" direction="in"/></method>
    <method name="SetBindAtCreation"><arg type="b" direction="in"/></method>
    <method name="SetConsent"><arg type="s" direction="in"/></method>
    <method name="AnswerConsent"><arg type="b" direction="in"/><arg type="u" direction="out"/></method>
    <method name="Trigger"><arg type="s" direction="in"/><arg type="b" direction="in"/><arg type="b" direction="out"/></method>
    <method name="Bound"><arg type="a(sss)" direction="out"/></method>
    <method name="LiveShortcutSessions"><arg type="u" direction="out"/></method>
    <method name="CloseSessions"><arg type="s" direction="in"/><arg type="u" direction="out"/></method>
    <method name="Keycodes"><arg type="a(iu)" direction="out"/></method>
  </interface>
</node>
"""
NODE = Gio.DBusNodeInfo.new_for_xml(XML)


def iface(name):
    return NODE.lookup_interface(name)


def sender_part(sender):
    return sender.lstrip(":").replace(".", "_")


class Portal:
    def __init__(self, conn, loop, impl):
        self.conn = conn
        self.loop = loop
        self.impl = impl
        self.counter = 0
        self.requests = {}  # path -> registration id
        self.sessions = {}  # path -> dict
        self.bind_response = 0
        self.declined = None
        self.binds_at_creation = False
        self.consent = "grant"
        self.waiting = []  # (request path, session path)
        self.keycodes = []
        prefix = IMPL if impl else "org.freedesktop.portal."
        for name in ("GlobalShortcuts", "RemoteDesktop"):
            conn.register_object(DESKTOP, iface(prefix + name), self.call, self.get_property, None)
        conn.register_object("/org/keymux/test", iface(TEST), self.call, None, None)

    # objects
    def new_path(self, kind, sender, options, key):
        self.counter += 1
        token = options.get(key, "t%d" % self.counter)
        return "%s/%s/%s/%s" % (DESKTOP, kind, sender_part(sender), token)

    def request(self, sender, options):
        path = self.new_path("request", sender, options, "handle_token")
        self.requests[path] = self.conn.register_object(path, iface("org.freedesktop.portal.Request"), self.call,
                                                        None, None)
        return path

    def answer(self, path, code, results):
        # After the method's own reply, as a real portal answers.
        def emit():
            if path in self.requests:
                self.conn.emit_signal(None, path, "org.freedesktop.portal.Request", "Response",
                                      GLib.Variant("(ua{sv})", (code, results)))
                self.conn.unregister_object(self.requests.pop(path))
            return False
        GLib.timeout_add(5, emit)

    def session(self, sender, options, kind):
        path = self.new_path("session", sender, options, "session_handle_token")
        reg = self.conn.register_object(path, iface("org.freedesktop.portal.Session"), self.call, None, None)
        self.sessions[path] = {"kind": kind, "reg": reg, "bound": False, "shortcuts": [], "started": False}
        return path

    def impl_session(self, path, kind):
        reg = self.conn.register_object(path, iface(IMPL + "Session"), self.call, self.get_property, None)
        self.sessions[path] = {"kind": kind, "reg": reg, "bound": False, "shortcuts": [], "started": False}

    def end_session(self, path, emit):
        s = self.sessions.pop(path, None)
        if s is None:
            return
        self.conn.unregister_object(s["reg"])
        if emit and self.impl:
            self.conn.emit_signal(None, path, IMPL + "Session", "Closed", None)
        elif emit:
            self.conn.emit_signal(None, path, "org.freedesktop.portal.Session", "Closed",
                                  GLib.Variant("(a{sv})", ({},)))

    def live(self, path, kind):
        s = self.sessions.get(path)
        return s if s and s["kind"] == kind else None

    def get_property(self, conn, sender, path, interface, prop):
        name = interface.split(".")[-1]
        values = {("GlobalShortcuts", "version"): 1, ("RemoteDesktop", "version"): 2,
                  ("RemoteDesktop", "AvailableDeviceTypes"): 7, ("Session", "version"): 1}
        return GLib.Variant("u", values[(name, prop)])

    # calls
    def call(self, conn, sender, path, interface, method, params, invocation):
        args = params.unpack()
        try:
            prefix = "Impl" if interface.startswith(IMPL) else ""
            handler = getattr(self, "%s%s_%s" % (prefix, interface.split(".")[-1], method))
            out = handler(sender, path, *args) if prefix == "" else handler(invocation, path, *args)
        except GLib.Error as e:
            invocation.return_gerror(e)
            return
        except Exception as e:  # a fault of the stand-in itself
            invocation.return_dbus_error("org.freedesktop.portal.Error.Failed", str(e))
            return
        if out is not DEFER:
            invocation.return_value(out)

    def Request_Close(self, sender, path):
        reg = self.requests.pop(path, None)
        if reg is not None:
            self.conn.unregister_object(reg)

    def Session_Close(self, sender, path):
        self.end_session(path, emit=False)

    def GlobalShortcuts_CreateSession(self, sender, path, options):
        req = self.request(sender, options)
        session = self.session(sender, options, "gs")
        results = self.bind_at_creation(session, options)
        results["session_handle"] = GLib.Variant("o", session)
        self.answer(req, 0, results)
        return GLib.Variant("(o)", (req,))

    def GlobalShortcuts_BindShortcuts(self, sender, path, session, shortcuts, parent, options):
        req = self.request(sender, options)
        s = self.live(session, "gs")
        if s is None or s["bound"]:
            self.answer(req, 2, {})
        elif self.bind_response != 0:
            s["bound"] = True
            self.answer(req, self.bind_response, {})
        else:
            s["bound"] = True
            s["shortcuts"] = self.bindable(shortcuts)
            out = [(i, {"description": GLib.Variant("s", d), "trigger_description": GLib.Variant("s", t)})
                   for i, d, t in s["shortcuts"]]
            self.answer(req, 0, {"shortcuts": GLib.Variant("a(sa{sv})", out)})
        return GLib.Variant("(o)", (req,))

    def GlobalShortcuts_ListShortcuts(self, sender, path, session, options):
        req = self.request(sender, options)
        self.answer(req, 2, {})
        return GLib.Variant("(o)", (req,))

    def RemoteDesktop_CreateSession(self, sender, path, options):
        req = self.request(sender, options)
        self.answer(req, 0, {"session_handle": GLib.Variant("s", self.session(sender, options, "rd"))})
        return GLib.Variant("(o)", (req,))

    def RemoteDesktop_SelectDevices(self, sender, path, session, options):
        req = self.request(sender, options)
        self.answer(req, 0 if self.live(session, "rd") else 2, {})
        return GLib.Variant("(o)", (req,))

    def grant(self, req, session):
        s = self.live(session, "rd")
        if s is None:
            self.answer(req, 2, {})
            return
        s["started"] = True
        self.answer(req, 0, {"devices": GLib.Variant("u", 1), "restore_token": GLib.Variant("s", "token-1")})

    def RemoteDesktop_Start(self, sender, path, session, parent, options):
        req = self.request(sender, options)
        if self.consent == "grant":
            self.grant(req, session)
        elif self.consent == "deny":
            self.answer(req, 1, {})
        else:
            self.waiting.append((req, session))
        return GLib.Variant("(o)", (req,))

    def RemoteDesktop_NotifyKeyboardKeycode(self, sender, path, session, options, keycode, state):
        s = self.live(session, "rd")
        if s is None or not s["started"]:
            raise GLib.Error("session not started")
        self.keycodes.append((keycode, state))
        return None

    # the backend side, behind Debian's xdg-desktop-portal
    def ImplSession_Close(self, invocation, path):
        self.end_session(path, emit=False)

    def ImplGlobalShortcuts_CreateSession(self, invocation, path, handle, session, app_id, options):
        self.impl_session(session, "gs")
        return GLib.Variant("(ua{sv})", (0, self.bind_at_creation(session, options)))

    def ImplGlobalShortcuts_BindShortcuts(self, invocation, path, handle, session, shortcuts, parent, options):
        s = self.live(session, "gs")
        if s is None or s["bound"]:
            return GLib.Variant("(ua{sv})", (2, {}))
        s["bound"] = True
        if self.bind_response != 0:
            return GLib.Variant("(ua{sv})", (self.bind_response, {}))
        s["shortcuts"] = self.bindable(shortcuts)
        out = [(i, {"description": GLib.Variant("s", d), "trigger_description": GLib.Variant("s", t)})
               for i, d, t in s["shortcuts"]]
        return GLib.Variant("(ua{sv})", (0, {"shortcuts": GLib.Variant("a(sa{sv})", out)}))

    def ImplGlobalShortcuts_ListShortcuts(self, invocation, path, handle, session):
        return GLib.Variant("(ua{sv})", (2, {}))

    def ImplRemoteDesktop_CreateSession(self, invocation, path, handle, session, app_id, options):
        self.impl_session(session, "rd")
        return GLib.Variant("(ua{sv})", (0, {}))

    def ImplRemoteDesktop_SelectDevices(self, invocation, path, handle, session, app_id, options):
        return GLib.Variant("(ua{sv})", (0 if self.live(session, "rd") else 2, {}))

    def impl_grant(self, invocation, session):
        s = self.live(session, "rd")
        if s is None:
            invocation.return_value(GLib.Variant("(ua{sv})", (2, {})))
            return
        s["started"] = True
        invocation.return_value(GLib.Variant("(ua{sv})", (0, {"devices": GLib.Variant("u", 1)})))

    def ImplRemoteDesktop_Start(self, invocation, path, handle, session, app_id, parent, options):
        if self.consent == "grant":
            self.impl_grant(invocation, session)
        elif self.consent == "deny":
            invocation.return_value(GLib.Variant("(ua{sv})", (1, {})))
        else:
            self.waiting.append((invocation, session))
        return DEFER

    def ImplRemoteDesktop_NotifyKeyboardKeycode(self, invocation, path, session, options, keycode, state):
        s = self.live(session, "rd")
        if s is None or not s["started"]:
            raise GLib.Error("session not started")
        self.keycodes.append((keycode, state))
        return None

    # Early drafts of the interface bound the shortcuts given in CreateSession's
    # options and answered with them; with binds_at_creation set, so does this.
    def bind_at_creation(self, session, options):
        if not self.binds_at_creation or "shortcuts" not in options:
            return {}
        s = self.sessions[session]
        s["bound"] = True
        s["shortcuts"] = self.bindable(options["shortcuts"])
        out = [(i, {"description": GLib.Variant("s", d), "trigger_description": GLib.Variant("s", t)})
               for i, d, t in s["shortcuts"]]
        return {"shortcuts": GLib.Variant("a(sa{sv})", out)}

    # A desktop may decline a shortcut and leave it out of the answer.
    def bindable(self, shortcuts):
        return [(i, v.get("description", ""), v.get("preferred_trigger", "")) for i, v in shortcuts
                if v.get("preferred_trigger", "") != self.declined]

    # test control
    def TestPortal_SetBindResponse(self, sender, path, code):
        self.bind_response = code

    def TestPortal_DeclineTrigger(self, sender, path, trigger):
        self.declined = trigger

    def TestPortal_SetBindAtCreation(self, sender, path, on):
        self.binds_at_creation = on

    def TestPortal_SetConsent(self, sender, path, mode):
        self.consent = mode

    def TestPortal_AnswerConsent(self, sender, path, grant):
        waiting, self.waiting = self.waiting, []
        for req, session in waiting:
            if self.impl:
                if grant:
                    self.impl_grant(req, session)
                else:
                    req.return_value(GLib.Variant("(ua{sv})", (1, {})))
            elif grant:
                self.grant(req, session)
            else:
                self.answer(req, 1, {})
        return GLib.Variant("(u)", (len(waiting),))

    def bound_sessions(self):
        return [(p, s) for p, s in self.sessions.items() if s["kind"] == "gs" and s["shortcuts"]]

    def TestPortal_Trigger(self, sender, path, shortcut_id, down):
        for p, s in self.bound_sessions():
            if any(i == shortcut_id for i, _, _ in s["shortcuts"]):
                self.conn.emit_signal(None, DESKTOP, (IMPL + "GlobalShortcuts") if self.impl else GS,
                                      "Activated" if down else "Deactivated",
                                      GLib.Variant("(osta{sv})", (p, shortcut_id, 0, {})))
                return GLib.Variant("(b)", (True,))
        return GLib.Variant("(b)", (False,))

    def TestPortal_Bound(self, sender, path):
        out = [entry for _, s in self.bound_sessions() for entry in s["shortcuts"]]
        return GLib.Variant("(a(sss))", (out,))

    def TestPortal_LiveShortcutSessions(self, sender, path):
        return GLib.Variant("(u)", (len([s for s in self.sessions.values() if s["kind"] == "gs"]),))

    def TestPortal_CloseSessions(self, sender, path, kind):
        paths = [p for p, s in self.sessions.items() if s["kind"] == kind]
        for p in paths:
            self.end_session(p, emit=True)
        return GLib.Variant("(u)", (len(paths),))

    def TestPortal_Keycodes(self, sender, path):
        return GLib.Variant("(a(iu))", (self.keycodes,))


def main():
    # --impl NAME: serve the backend interfaces under NAME for Debian's
    # xdg-desktop-portal; otherwise stand in for the portal itself.
    impl = sys.argv[2] if len(sys.argv) > 2 and sys.argv[1] == "--impl" else None
    loop = GLib.MainLoop()
    conn = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    Portal(conn, loop, impl is not None)
    Gio.bus_own_name_on_connection(conn, impl or "org.freedesktop.portal.Desktop", Gio.BusNameOwnerFlags.NONE,
                                   None, lambda *_: loop.quit())
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""A stand-in for the suspend inhibit of the desktop portal, PowerManagement or GNOME on a private session
bus. Run as `inhibit_service.py portal|power-management|gnome-session`; prints "ready", then one line per
inhibit and per release."""

import itertools
import sys

from gi.repository import Gio, GLib

_SERVICES = {
    "portal": ("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", """
<node><interface name="org.freedesktop.portal.Inhibit"><method name="Inhibit">
<arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="a{sv}" direction="in"/>
<arg type="o" direction="out"/></method></interface></node>"""),
    "power-management": ("org.freedesktop.PowerManagement",
                         "/org/freedesktop/PowerManagement/Inhibit", """
<node><interface name="org.freedesktop.PowerManagement.Inhibit">
<method name="Inhibit"><arg type="s" direction="in"/><arg type="s" direction="in"/>
<arg type="u" direction="out"/></method>
<method name="UnInhibit"><arg type="u" direction="in"/></method></interface></node>"""),
    "gnome-session": ("org.gnome.SessionManager", "/org/gnome/SessionManager", """
<node><interface name="org.gnome.SessionManager">
<method name="Inhibit"><arg type="s" direction="in"/><arg type="u" direction="in"/>
<arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="u" direction="out"/>
</method><method name="Uninhibit"><arg type="u" direction="in"/></method></interface></node>"""),
}
_REQUEST = """<node><interface name="org.freedesktop.portal.Request">
<method name="Close"/></interface></node>"""


def _serve(kind):
    """Owns the service, prints "inhibit <args>" and "release" lines; like the real services,
    a client that leaves the bus releases what it held."""
    name, path, xml = _SERVICES[kind]
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    held = {}  # handle or cookie -> client
    issued = itertools.count(1)

    def report(line):
        print(line, flush=True)

    def release(token):
        if held.pop(token, None) is not None:
            report("release")

    def on_request_close(_bus, _sender, obj_path, _iface, _method, _args, invocation):
        release(obj_path)
        invocation.return_value(None)

    def on_call(_bus, sender, _path, _iface, method, args, invocation):
        if method == "Inhibit":
            number = next(issued)
            token = f"{path}/request{number}" if kind == "portal" else number
            held[token] = sender
            report(f"inhibit {list(args.unpack())}")
            if kind == "portal":
                bus.register_object(token, Gio.DBusNodeInfo.new_for_xml(_REQUEST).interfaces[0],
                                    on_request_close)
                invocation.return_value(GLib.Variant("(o)", (token,)))
            else:
                invocation.return_value(GLib.Variant("(u)", (token,)))
        else:
            release(args.unpack()[0])
            invocation.return_value(None)

    def on_name_owner_changed(_bus, _sender, _path, _iface, _signal, args):
        client, _old, new = args.unpack()
        if not new:
            for token in [t for t, c in held.items() if c == client]:
                release(token)

    bus.register_object(path, Gio.DBusNodeInfo.new_for_xml(xml).interfaces[0], on_call)
    bus.signal_subscribe("org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                         "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE,
                         on_name_owner_changed)
    Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: report("ready"), None)
    GLib.MainLoop().run()


if __name__ == "__main__":
    _serve(sys.argv[1])

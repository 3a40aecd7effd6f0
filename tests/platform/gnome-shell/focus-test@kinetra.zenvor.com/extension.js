// Test help inside a headless GNOME Shell: the signal Ready once the shell has started
// (and its overview, shown at start, is closed, so that new windows take the focus), and
// Activate(pid), which moves the focus to that process's window as a user's click would.
'use strict';

const { Gio } = imports.gi;
const Main = imports.ui.main;

const INTERFACE = `
<node>
  <interface name="com.zenvor.Kinetra.FocusTest1">
    <method name="Activate">
      <arg type="u" name="pid" direction="in"/>
      <arg type="b" name="found" direction="out"/>
    </method>
    <signal name="Ready"/>
  </interface>
</node>`;

class FocusTest {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, '/com/zenvor/Kinetra/FocusTest');
        if (Main.layoutManager._startingUp)
            this._startup = Main.layoutManager.connect('startup-complete', () => this._ready());
        else
            this._ready();
    }

    disable() {
        if (this._startup)
            Main.layoutManager.disconnect(this._startup);
        this._startup = 0;
        this._object.unexport();
        this._object = null;
    }

    _ready() {
        if (!Main.overview.visible) {
            this._object.emit_signal('Ready', null);
            return;
        }
        // Once the overview's closing animation has run.
        const hidden = Main.overview.connect('hidden', () => {
            Main.overview.disconnect(hidden);
            this._object.emit_signal('Ready', null);
        });
        Main.overview.hide();
    }

    Activate(pid) {
        const window = global.get_window_actors()
            .map(actor => actor.meta_window)
            .find(w => w.get_pid() === pid);
        if (!window)
            return false;
        Main.activateWindow(window);
        return true;
    }
}

function init() {
    return new FocusTest();
}

// Reports which process owns the focused window, for Kinetra's profile switcher, on the
// session bus: the signal FocusChanged(pid, executable, name) at every change of the
// focused window, and the method GetFocus() for the focus now. A pid of 0 means that no
// window has the focus (or that the shell does not know its process); the executable is
// the target of /proc/<pid>/exe, empty when it cannot be read.
//
// Nothing is kept between enable() and disable() but the exported object and one signal
// connection, both dropped by disable(); nothing is written anywhere.
'use strict';

const { Gio, GLib } = imports.gi;

const OBJECT_PATH = '/com/zenvor/Kinetra/Focus';
const INTERFACE = `
<node>
  <interface name="com.zenvor.Kinetra.Focus1">
    <method name="GetFocus">
      <arg type="u" name="pid" direction="out"/>
      <arg type="s" name="executable" direction="out"/>
      <arg type="s" name="name" direction="out"/>
    </method>
    <signal name="FocusChanged">
      <arg type="u" name="pid"/>
      <arg type="s" name="executable"/>
      <arg type="s" name="name"/>
    </signal>
  </interface>
</node>`;

// [pid, executable, name] of the process owning `window` (null: no window).
function describe(window) {
    if (!window)
        return [0, '', ''];
    const pid = window.get_pid();
    if (!(pid > 0))
        return [0, '', window.get_wm_class() || ''];
    let executable = '';
    try {
        executable = GLib.file_read_link(`/proc/${pid}/exe`);
    } catch (e) {
        // The process has ended or belongs to someone else: the pid alone must do.
    }
    return [pid, executable, window.get_wm_class() || ''];
}

class FocusReporter {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._focusChanged = global.display.connect('notify::focus-window', () => this._report());
        // Whoever listens already learns the focus now, not only at the next change.
        this._report();
    }

    disable() {
        global.display.disconnect(this._focusChanged);
        this._focusChanged = 0;
        this._object.unexport();
        this._object = null;
    }

    GetFocus() {
        return describe(global.display.focus_window);
    }

    _report() {
        this._object.emit_signal('FocusChanged',
            new GLib.Variant('(uss)', describe(global.display.focus_window)));
    }
}

function init() {
    return new FocusReporter();
}

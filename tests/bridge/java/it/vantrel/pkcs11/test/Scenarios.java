package it.vantrel.pkcs11.test;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

/**
 * Child-process driver for trace checks: runs the steps given as arguments against the bridge
 * and reports each outcome on standard error, leaving standard output to the bridge.
 * Steps: load=script|nolist|noext|softhsm|PATH, init, final, info, slots=BOOL, version, wait,
 * slot=ID, slotinfo, tokeninfo, sn, mechs, mechinfo=TYPE, open=FLAGS, closeall, close,
 * sessioninfo, login=BOOL:PIN, authpath=BOOL, logout, initpin=PIN, setpin=OLD:NEW,
 * rsa=ALIAS:INT:PIN|null.
 */
public final class Scenarios {
    private final NativePKCS11 module = new NativePKCS11();
    private NativePKCS11Slot slot;
    private NativePKCS11Session session;

    private Scenarios() {
    }

    public static void main(String[] args) {
        Scenarios scenarios = new Scenarios();
        for (int i = 1; i < args.length; i++) {
            String step = args[i];
            try {
                System.err.println(step + " -> " + scenarios.run(step));
            } catch (PKCS11Exception e) {
                System.err.println(step + " -> exception " + (e.hasErrorCode()
                        ? String.format("0x%x %b", e.getErrorCode(), e.isVendorDefined()) : e.getMessage()));
            }
        }
    }

    private static String modulePath(String name) {
        switch (name) {
            case "script": return ScriptModule.path();
            case "nolist": return ScriptModule.pathWithoutFunctionList();
            case "noext": return ScriptModule.pathWithoutExtension();
            case "softhsm": return SoftHsm.path();
            default: return name;
        }
    }

    private Object run(String step) throws PKCS11Exception {
        int equals = step.indexOf('=');
        String name = equals < 0 ? step : step.substring(0, equals);
        String value = equals < 0 ? "" : step.substring(equals + 1);
        String[] parts = value.split(":", -1);
        switch (name) {
            case "load": return module.loadPKCS11Library(modulePath(value)) != 0;
            case "init": module.libInitialize(); return "ok";
            case "final": module.libFinalize(); return "ok";
            case "info": return module.getInfo() != null;
            case "slots": {
                NativePKCS11Slot[] slots = module.getSlotList(Boolean.parseBoolean(value));
                if (slots != null && slots.length > 0) {
                    slot = slots[0];
                }
                return slots == null ? "null" : slots.length;
            }
            case "version": return module.getBridgeVersion();
            case "wait": return module.waitForSlotEvent(0);
            case "slot": slot = new NativePKCS11Slot(module, (int) Long.parseLong(value)); return "ok";
            case "slotinfo": return slot.getInfo() != null;
            case "tokeninfo": return slot.getTokenInfo() != null;
            case "sn": return slot.getTokenSN();
            case "mechs": return slot.getMechanismList().length;
            case "mechinfo": return slot.getMechanismInfo(Integer.parseInt(value)) != null;
            case "open": session = slot.openSession(Integer.parseInt(value), null, null); return "ok";
            case "closeall": slot.closeAllSessions(); return "ok";
            case "close": session.close(); return "ok";
            case "sessioninfo": return session.getInfo() != null;
            case "login": session.login(Boolean.parseBoolean(parts[0]), parts[1]); return "ok";
            case "authpath": session.loginAuthPath(Boolean.parseBoolean(value)); return "ok";
            case "logout": session.logout(); return "ok";
            case "initpin": session.initPIN(value); return "ok";
            case "setpin": session.setPIN(parts[0], parts[1]); return "ok";
            case "rsa": {
                NativePKCS11Object[] objects = module.getRSAcredential(parts[0], Integer.parseInt(parts[1]),
                        parts[2].equals("null") ? null : parts[2]);
                return objects == null ? "null" : objects.length;
            }
            default: throw new IllegalArgumentException("unknown step " + step);
        }
    }
}

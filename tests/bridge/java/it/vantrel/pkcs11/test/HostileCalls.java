package it.vantrel.pkcs11.test;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Object;
import it.vantrel.pkcs11.nat.NativePKCS11Session;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;

/**
 * Child-process driver of the hostile-caller suite: calls every native of the four peer
 * classes that the bridge library exports, each argument in turn replaced by nulls, negative
 * and extreme numbers, empty, short and mismatched arrays and unconvertible values. Every
 * call must come back with a result or a PKCS11Exception; anything else is reported on
 * standard error as "UNEXPECTED". Phases: unbound (no module), script (the scriptable module
 * answering as the standard says), lying (the scriptable module answering with faults).
 */
public final class HostileCalls {
    private static final Class<?>[] PEERS = {NativePKCS11.class, NativePKCS11Slot.class, NativePKCS11Session.class,
        NativePKCS11Object.class};

    private final NativePKCS11 module = new NativePKCS11();
    private final NativePKCS11Slot slot = new NativePKCS11Slot(module, 0);
    private final NativePKCS11Session session = new NativePKCS11Session(slot, 7);
    private final NativePKCS11Object object = new NativePKCS11Object(session, 5);
    private final boolean bound;
    private int calls;
    private int unexpected;

    private HostileCalls(boolean bound) {
        this.bound = bound;
    }

    public static void main(String[] args) {
        String phase = args[0];
        HostileCalls driver = new HostileCalls(!phase.equals("unbound"));
        driver.rebind();
        for (Class<?> peer : PEERS) {
            Method[] methods = peer.getDeclaredMethods();
            Arrays.sort(methods, Comparator.comparing(Method::toString));
            for (Method method : methods) {
                if (Modifier.isNative(method.getModifiers())) {
                    driver.attack(method);
                }
            }
        }
        System.err.println("hostile calls: " + driver.calls + ", unexpected: " + driver.unexpected);
        System.exit(0);
    }

    /** The scriptable module bound and initialised again (a call may have finalised or replaced it). */
    private void rebind() {
        if (!bound) {
            return;
        }
        try {
            module.libFinalize();
            module.loadPKCS11Library(ScriptModule.path());
            module.libInitialize();
        } catch (PKCS11Exception e) {
            throw new IllegalStateException("cannot bind the scriptable module", e);
        }
    }

    private Object receiverOf(Method method) {
        Class<?> peer = method.getDeclaringClass();
        if (peer == NativePKCS11.class) {
            return module;
        }
        if (peer == NativePKCS11Slot.class) {
            return slot;
        }
        return peer == NativePKCS11Session.class ? session : object;
    }

    /** A usable value first, then the hostile ones. */
    private Object[] valuesFor(Class<?> type) {
        if (type == int.class) {
            return new Object[] {3, -1, Integer.MIN_VALUE, Integer.MAX_VALUE, 0};
        }
        if (type == boolean.class) {
            return new Object[] {false, true};
        }
        if (type == byte[].class) {
            return new Object[] {new byte[] {1, 2, 3}, null, new byte[0]};
        }
        if (type == int[].class) {
            return new Object[] {new int[] {0, 1, 2}, null, new int[0], new int[] {-1, Integer.MIN_VALUE, 0x11}};
        }
        if (type == Object[].class) {
            return new Object[] {new Object[] {1, 2, 3}, null, new Object[0], new Object[] {null, 7L, new Object()},
                new Object[] {"a", new byte[0], true, 4, new java.math.BigInteger("-1"), new java.util.Date(0)}};
        }
        if (type == String.class) {
            return new Object[] {"1234", null, "", "nul\u0000in\uD800side\u00ff"};
        }
        if (type == NativePKCS11Object.class) {
            return new Object[] {object, null, new NativePKCS11Object(null, -1)};
        }
        if (type == NativePKCS11Session.class) {
            return new Object[] {session, null, new NativePKCS11Session(null, Integer.MIN_VALUE)};
        }
        if (type == NativePKCS11Slot.class) {
            return new Object[] {slot, null};
        }
        return new Object[] {null, "unread", new Object(), new byte[2]};
    }

    private void attack(Method method) {
        Class<?>[] types = method.getParameterTypes();
        Object[] base = new Object[types.length];
        for (int i = 0; i < types.length; i++) {
            base[i] = valuesFor(types[i])[0];
        }
        call(method, base);
        for (int i = 0; i < types.length; i++) {
            Object[] values = valuesFor(types[i]);
            for (int v = 1; v < values.length; v++) {
                Object[] args = base.clone();
                args[i] = values[v];
                call(method, args);
            }
        }
        // Everything at its most hostile at once.
        Object[] worst = new Object[types.length];
        for (int i = 0; i < types.length; i++) {
            worst[i] = types[i] == int.class ? (Object) Integer.MIN_VALUE : types[i] == boolean.class ? true : null;
        }
        call(method, worst);
    }

    private void call(Method method, Object[] args) {
        calls++;
        String name = method.getDeclaringClass().getSimpleName() + "." + method.getName();
        try {
            method.invoke(receiverOf(method), args);
        } catch (InvocationTargetException e) {
            Throwable cause = e.getCause();
            if (!(cause instanceof PKCS11Exception)) {
                unexpected++;
                System.err.println("UNEXPECTED " + name + Arrays.deepToString(args) + ": " + cause);
            }
        } catch (IllegalAccessException e) {
            throw new IllegalStateException(e);
        }
        if (List.of("libFinalize", "loadPKCS11Library", "libInitialize").contains(method.getName())) {
            rebind();
        }
    }
}

package it.vantrel.pkcs11.test;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import it.vantrel.pkcs11.PKCS11Exception;
import it.vantrel.pkcs11.PKCS11Info;
import it.vantrel.pkcs11.nat.NativePKCS11;
import it.vantrel.pkcs11.nat.NativePKCS11Slot;

import java.io.File;
import java.lang.ref.WeakReference;
import java.lang.reflect.InvocationTargetException;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/** Module natives against the scriptable module: exact arguments, scripted answers and faults. */
class ModuleScriptTest {
    private final NativePKCS11 module = new NativePKCS11();

    @AfterEach
    void release() throws PKCS11Exception {
        module.libFinalize();
    }

    private void bind(String... script) throws PKCS11Exception {
        ScriptModule.script(script);
        assertNotEquals(0L, module.loadPKCS11Library(ScriptModule.path()));
        module.libInitialize();
        ScriptModule.clearCalls();
    }

    private static void assertMessage(String message, PKCS11Exception e) {
        assertFalse(e.hasErrorCode(), "expected a message, got code " + e.getErrorCode());
        assertEquals(message, e.getMessage());
    }

    private static void assertCode(int code, PKCS11Exception e) {
        assertTrue(e.hasErrorCode(), "expected a code, got " + e.getMessage());
        assertEquals(code, e.getErrorCode());
        assertFalse(e.isVendorDefined());
    }

    @Test
    void loadingBindsWithoutInitialisingAndInitialisePassesNull() throws PKCS11Exception {
        ScriptModule.script("info.cryptokiVersion 2.11");
        module.loadPKCS11Library(ScriptModule.path());
        assertEquals(List.of("C_GetFunctionList"), ScriptModule.calls());
        module.libInitialize();
        assertEquals(List.of("C_GetFunctionList", "C_Initialize args=null"), ScriptModule.calls());
        assertEquals(523, module.getInfo().cryptokiVersion);
    }

    @Test
    void unusableModulesAreInternalErrors() {
        ScriptModule.script("");
        assertMessage("Internal error", assertThrows(PKCS11Exception.class,
                () -> module.loadPKCS11Library("/nonexistent/libmissing.so")));
        assertMessage("Internal error", assertThrows(PKCS11Exception.class,
                () -> module.loadPKCS11Library(ScriptModule.pathWithoutFunctionList())));
        assertMessage("Internal error (Null parameter)", assertThrows(PKCS11Exception.class,
                () -> module.loadPKCS11Library(null)));
        ScriptModule.script("getlist.null 1");
        assertMessage("Internal error", assertThrows(PKCS11Exception.class,
                () -> module.loadPKCS11Library(ScriptModule.path())));
        ScriptModule.script("getlist.rv 0x5");
        assertCode(5, assertThrows(PKCS11Exception.class, () -> module.loadPKCS11Library(ScriptModule.path())));
        ScriptModule.script("getlist.rv 0x80000005");
        assertMessage("Internal error", assertThrows(PKCS11Exception.class,
                () -> module.loadPKCS11Library(ScriptModule.path())));
    }

    @Test
    void callsBeforeInitialiseNeverReachTheModule() throws PKCS11Exception {
        ScriptModule.script("");
        module.loadPKCS11Library(ScriptModule.path());
        ScriptModule.clearCalls();
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, module::getInfo));
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, () -> module.getSlotList(false)));
        assertEquals(List.of(), ScriptModule.calls());
    }

    @Test
    void failedInitialiseKeepsTheModuleBound() throws PKCS11Exception {
        ScriptModule.script("rv.C_Initialize 0x191");
        module.loadPKCS11Library(ScriptModule.path());
        assertCode(0x191, assertThrows(PKCS11Exception.class, module::libInitialize));
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, module::getInfo));
        ScriptModule.script("");
        module.libInitialize();
        module.getInfo();
    }

    @Test
    void resultCodesReachJava() throws PKCS11Exception {
        bind("rv.C_GetInfo 0xA0");
        assertCode(0xA0, assertThrows(PKCS11Exception.class, module::getInfo));
        ScriptModule.script("rv.C_GetInfo 0x80000010");
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, module::getInfo));
        ScriptModule.script("rv.C_GetSlotList 0x7FFFFFFF");
        assertCode(0x7FFFFFFF, assertThrows(PKCS11Exception.class, () -> module.getSlotList(true)));
    }

    @Test
    void infoKeepsVersionsFlagsAndBlankPaddedTexts() throws PKCS11Exception {
        bind("info.cryptokiVersion 2.11", "info.libraryVersion 1.0", "info.flags 0xFFFFFFFF",
                "info.manufacturerID Acme", "info.libraryDescription Ace of modules");
        PKCS11Info info = module.getInfo();
        assertEquals(523, info.cryptokiVersion);
        assertEquals(256, info.libraryVersion);
        assertEquals(-1, info.flags);
        assertEquals("Acme" + " ".repeat(28), info.manufacturerID);
        assertEquals(32, info.libraryDescription.length());
        assertEquals("Ace of modules", info.libraryDescription.trim());
        assertEquals(List.of("C_GetInfo"), ScriptModule.calls());
    }

    @Test
    void textsThatAreNoUtf8BecomeNull() throws PKCS11Exception {
        // The script holds bytes: F0 9F 98 80 is U+1F600 in standard UTF-8.
        bind("info.manufacturerID Bad\u00ff\u00fetext", "info.libraryDescription Fine\u00f0\u009f\u0098\u0080");
        PKCS11Info info = module.getInfo();
        assertNull(info.manufacturerID);
        assertEquals("Fine\ud83d\ude00", info.libraryDescription.trim());
    }

    @Test
    void slotsComeInTheModulesOrderWithOneOwner() throws PKCS11Exception {
        bind("slots 0 1 5");
        NativePKCS11Slot[] slots = module.getSlotList(false);
        assertEquals(3, slots.length);
        assertArrayEquals(new int[] {0, 1, 5},
                new int[] {slots[0].getSlotID(), slots[1].getSlotID(), slots[2].getSlotID()});
        for (NativePKCS11Slot slot : slots) {
            assertSame(module, slot.getModule());
        }
        assertEquals(List.of("C_GetSlotList tokenPresent=0 list=null count=0",
                "C_GetSlotList tokenPresent=0 list=set count=3"), ScriptModule.calls());
    }

    @Test
    void tokenPresentFiltersAndNoSlotsGiveNull() throws PKCS11Exception {
        bind("slots 3 4", "slots.noToken 4");
        assertEquals(1, module.getSlotList(true).length);
        assertEquals("C_GetSlotList tokenPresent=1 list=null count=0", ScriptModule.calls().get(0));
        ScriptModule.script("slots.noToken 3 4", "slots 3 4");
        assertNull(module.getSlotList(true));
        ScriptModule.script("slots ");
        assertNull(module.getSlotList(false));
    }

    @Test
    void slotListingFaultsOfTheModuleAreRefused() throws PKCS11Exception {
        bind("slots 1 2", "slots.growBy 1");
        assertCode(0x150, assertThrows(PKCS11Exception.class, () -> module.getSlotList(false)));
        ScriptModule.script("slots 1 2", "slots.count 0xFFFFFFFF");
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, () -> module.getSlotList(false)));
        // An answer the bridge does not believe is its own failure, not a module code.
        ScriptModule.script("slots 1 2", "slots.claim 1000");
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, () -> module.getSlotList(false)));
    }

    @Test
    void finaliseReleasesTheModuleWhateverItAnswers() throws PKCS11Exception {
        bind("rv.C_Finalize 0x6");
        module.libFinalize();
        assertEquals(List.of("C_Finalize reserved=null"), ScriptModule.calls());
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, module::getInfo));
        // A released module is never called: initialise and finalise need a new load.
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, module::libInitialize));
        module.libFinalize();
        assertEquals(List.of("C_Finalize reserved=null"), ScriptModule.calls());
        module.loadPKCS11Library(ScriptModule.path());
        module.libInitialize();
        assertEquals(256 * 2 + 20, module.getInfo().cryptokiVersion);
    }

    @Test
    void missingEntriesAreInternalErrors() throws PKCS11Exception {
        ScriptModule.script("null.C_Finalize 1", "null.C_GetInfo 1");
        module.loadPKCS11Library(ScriptModule.path());
        module.libInitialize();
        assertMessage("Internal error", assertThrows(PKCS11Exception.class, module::getInfo));
        // Without a C_Finalize entry nothing is released: the module still answers.
        module.libFinalize();
        assertEquals(1, module.getSlotList(false).length);
        ScriptModule.script("");
        module.loadPKCS11Library(ScriptModule.path());
    }

    @Test
    void unsupportedAndVersion() {
        ScriptModule.script("");
        ScriptModule.clearCalls();
        assertMessage("Not supported", assertThrows(PKCS11Exception.class, () -> module.waitForSlotEvent(0)));
        assertEquals(List.of(), ScriptModule.calls());
        assertEquals("1.16", module.getBridgeVersion());
    }

    @Test
    void aClassLoaderThatGoesAwayTakesTheBridgeWithIt() {
        ScriptModule.script("slots 0 1 5");
        BridgeProcess run = BridgeProcess.runDriverWithOptions(LoaderCycle.class, List.of("-Xcheck:jni"), null,
                "loaders");
        assertEquals(0, run.exitCode, run.stderr);
        for (int round = 1; round <= 2; round++) {
            assertTrue(run.stderr.contains("round " + round + ": 3 slots, slot info true, then Internal error, "
                    + "loader collected"), run.stderr);
        }
        assertFalse(run.stderr.contains("WARNING in native method"), run.stderr);
    }

    /**
     * Child-process driver: the bridge used twice, each time from a class loader of its own that
     * is then dropped. The second loader can load the library only after the first one was
     * collected and the library unloaded with it; it must then find every Java class afresh.
     */
    public static final class LoaderCycle {
        public static void main(String[] args) throws Exception {
            for (int round = 1; round <= 2; round++) {
                StringBuilder report = new StringBuilder("round " + round + ": ");
                WeakReference<ClassLoader> loader = useBridge(report);
                for (int i = 0; i < 200 && loader.get() != null; i++) {
                    System.gc();
                    Thread.sleep(20);
                }
                System.err.println(report.append(loader.get() == null ? "loader collected" : "loader kept"));
            }
        }

        /** A fresh loader with the bridge's classes; the last one's library may still be unloading. */
        private static URLClassLoader loaderWithBridge() throws Exception {
            List<URL> urls = new ArrayList<>();
            for (String entry : System.getProperty("java.class.path").split(File.pathSeparator)) {
                urls.add(Path.of(entry).toUri().toURL());
            }
            for (int attempt = 0;; attempt++) {
                URLClassLoader loader = new URLClassLoader(urls.toArray(new URL[0]),
                        ClassLoader.getPlatformClassLoader());
                try {
                    Class.forName("it.vantrel.pkcs11.nat.NativePKCS11", true, loader);
                    return loader;
                } catch (UnsatisfiedLinkError | ExceptionInInitializerError e) {
                    loader.close();
                    if (attempt == 100) {
                        throw e;
                    }
                    System.gc();
                    Thread.sleep(50);
                }
            }
        }

        private static WeakReference<ClassLoader> useBridge(StringBuilder report) throws Exception {
            URLClassLoader loader = loaderWithBridge();
            Class<?> moduleClass = loader.loadClass("it.vantrel.pkcs11.nat.NativePKCS11");
            Object module = moduleClass.getConstructor().newInstance();
            moduleClass.getMethod("loadPKCS11Library", String.class).invoke(module,
                    System.getProperty("vantrel.scriptModule"));
            moduleClass.getMethod("libInitialize").invoke(module);
            Object[] slots = (Object[]) moduleClass.getMethod("getSlotList", boolean.class).invoke(module, false);
            report.append(slots.length).append(" slots, slot info ")
                    .append(slots[0].getClass().getMethod("getInfo").invoke(slots[0]) != null);
            moduleClass.getMethod("libFinalize").invoke(module);
            try {
                moduleClass.getMethod("getInfo").invoke(module);
            } catch (InvocationTargetException e) {
                report.append(", then ").append(e.getCause().getMessage()).append(", ");
            }
            loader.close();
            return new WeakReference<>(loader);
        }
    }
}

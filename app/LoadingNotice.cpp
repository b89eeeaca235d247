#include "LoadingNotice.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <iostream>

#include "EndSignals.h"

bool showLoadingNotice(const std::string& caption, const std::string& text) {
    if (!gtk_init_check(nullptr, nullptr)) return false;
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                               GTK_BUTTONS_NONE, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    GtkWidget* accept = gtk_dialog_add_button(GTK_DIALOG(dialog), "Aceptar", GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gtk_widget_set_can_default(accept, TRUE);
    gtk_widget_grab_default(accept);
    gtk_widget_grab_focus(accept);

    // An end signal closes the notice as a confirmation would; the caller sees the signal.
    struct Watch {
        GtkWidget* dialog;
        guint source = 0;
    } watch{dialog};
    if (quorv::app::endSignalDescriptor() >= 0)
        watch.source = g_unix_fd_add(
            quorv::app::endSignalDescriptor(), G_IO_IN,
            [](gint, GIOCondition, gpointer data) -> gboolean {
                auto* w = static_cast<Watch*>(data);
                w->source = 0;
                gtk_dialog_response(GTK_DIALOG(w->dialog), GTK_RESPONSE_CANCEL);
                return G_SOURCE_REMOVE;
            },
            &watch);
    if (!quorv::app::endRequested()) gtk_dialog_run(GTK_DIALOG(dialog));
    if (watch.source) g_source_remove(watch.source);
    gtk_widget_destroy(dialog);
    // Let the window manager and the X server see the notice go before the viewer opens.
    while (gtk_events_pending()) gtk_main_iteration();
    return true;
}

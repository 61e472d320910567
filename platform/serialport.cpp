// placeholder: implemented by its own change

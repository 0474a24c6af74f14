import Tarnwick.Style as Style

// The logo mark as a template in the surrounding colour; the provider draws "phone.fill" when the
// bundle has no logo. Sized by whoever places it.
Style.Symbol {
    name: "LogoMark"
}
